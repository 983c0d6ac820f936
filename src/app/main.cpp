#include "app/appfolder.h"
#include "app/mainwindow.h"
#include "imaging/decode.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tovalin::setReaderLimits();
    tovalin::FrmJpgResize window(tovalin::chooseAppFolder());
    window.show();
    return app.exec();
}
