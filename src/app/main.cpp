#include "app/appfolder.h"
#include "app/mainwindow.h"
#include "common/memorypolicy.h"

#include <QApplication>

int main(int argc, char **argv)
{
    tovalin::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    tovalin::FrmJpgResize window(tovalin::chooseAppFolder());
    window.show();
    return app.exec();
}
