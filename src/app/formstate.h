#pragma once
#include <QString>
#include <cstdint>

namespace tovalin {

// What the window remembers between handlers for its whole life.
struct FormState {
    QString appFolder;    // the program's folder, never ending in a separator
    QString settingsPath; // appFolder + "/kakunousaku_file.txt"
    QString sourcePath;   // last dropped file, empty until the first drop
    QString outputName;   // "/" + derived output name
    QString outputPath;   // folder + "/" + output name, set by Resize
    QString previewPath;  // preview page, set by the preview button
    std::int16_t skipSourceInfo = 0; // 1: leave the source information line alone
};

inline const QString kSettingsFileName = QStringLiteral("kakunousaku_file.txt");

} // namespace tovalin
