#include "app/appfolder.h"

#include "app/formstate.h"
#include "resize/resizejob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tovalin {

namespace {

QString userFolder(QStandardPaths::StandardLocation where)
{
    const QString folder = QStandardPaths::writableLocation(where) + QStringLiteral("/tovalin");
    QDir().mkpath(folder);
    return folder;
}

// Earlier versions kept the settings and the work files (copies of the last
// picture) in ~/.local/share/Tovalin: the settings move to their new place
// unless one is already there, and the rest of Tovalin's files go.
void takeOverOldFolder(const QString &settingsFolder)
{
    const QString old = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Tovalin");
    const QString oldSettings = old + QLatin1Char('/') + kSettingsFileName;
    const QString newSettings = settingsFolder + QLatin1Char('/') + kSettingsFileName;
    if (!QFileInfo(oldSettings).isFile())
        return;
    if (!QFileInfo::exists(newSettings) && !QFile::copy(oldSettings, newSettings))
        return; // tried again next time
    for (const QString &name : {kSettingsFileName, kWorkMinName, kWorkMaxName})
        QFile::remove(old + QLatin1Char('/') + name);
    QDir().rmdir(old); // only when nothing else is left in it
}

} // namespace

bool isInstalled(const QString &exeFolder)
{
    const QDir bin(exeFolder);
    return bin.dirName() == QLatin1String("bin")
           && QFileInfo(bin.absoluteFilePath(QStringLiteral("../share/applications/tovalin.desktop"))).isFile();
}

AppFolders chooseAppFolders(const QString &exeFolder)
{
    if (!isInstalled(exeFolder) && QFileInfo(exeFolder).isWritable())
        return AppFolders(exeFolder);
    AppFolders folders(userFolder(QStandardPaths::GenericCacheLocation), userFolder(QStandardPaths::GenericConfigLocation));
    takeOverOldFolder(folders.settings);
    return folders;
}

} // namespace tovalin
