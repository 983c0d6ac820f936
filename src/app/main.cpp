#include "app/appfolder.h"
#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tovalin::FrmJpgResize window(tovalin::chooseAppFolder());
    window.show();
    return app.exec();
}
