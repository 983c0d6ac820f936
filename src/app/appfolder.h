#pragma once
#include <QString>

namespace tovalin {

// Where Tovalin keeps its own files: the size search's work files and the
// settings file. Neither ends in "/" except "/".
struct AppFolders {
    AppFolders(const QString &both) : work(both), settings(both) {} // a program folder of its own
    AppFolders(const QString &work, const QString &settings) : work(work), settings(settings) {}
    QString work;
    QString settings;
};

// Whether the executable in `exeFolder` is an installed Tovalin: it sits in
// PREFIX/bin beside PREFIX/share/applications/tovalin.desktop.
bool isInstalled(const QString &exeFolder);

// An installed Tovalin never writes into its program folder, whoever runs
// it: settings go to $XDG_CONFIG_HOME/tovalin and work files to
// $XDG_CACHE_HOME/tovalin (created when needed), and a settings file in the
// per-user folder of earlier versions (~/.local/share/Tovalin) is taken over
// once. A Tovalin started from anywhere else keeps both in its own folder
// where it can write there, else in those per-user folders.
AppFolders chooseAppFolders(const QString &exeFolder);

} // namespace tovalin
