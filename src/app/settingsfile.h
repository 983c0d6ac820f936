#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace tovalin {

struct SavedSettings {
    QString folder;
    QString targetSize;
};

// "\"<folder>\",\"<size>\"\r\n" in the locale's narrow encoding.
QByteArray formatSettings(const SavedSettings &s);

// Two comma-separated fields, enclosing quotes stripped, blanks before a
// field skipped. Empty for anything else: fewer than two fields, binary
// content, or a file too large to be ours.
std::optional<SavedSettings> parseSettings(const QByteArray &bytes);

constexpr qint64 kMaxSettingsBytes = 64 * 1024;

} // namespace tovalin
