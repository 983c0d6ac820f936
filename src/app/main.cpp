#include "app/appfolder.h"
#include "app/application.h"
#include "app/mainwindow.h"

#include <QApplication>

// "tovalin [FILE]": FILE is taken as if it had been dropped onto the viewer.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tovalin::setUpApplication(app);
    const QStringList args = QApplication::arguments();
    tovalin::FrmJpgResize window(tovalin::chooseAppFolder(), args.size() == 2 ? args[1] : QString());
    window.show();
    return app.exec();
}
