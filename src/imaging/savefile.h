#pragma once
#include <QByteArray>
#include <QString>

namespace tovalin {

struct SaveResult {
    bool ok = false;
    QString reason; // Japanese, when !ok
};

// Writes the whole file beside the target and renames it over the target,
// so an existing file is replaced only by a complete new one, never lost.
SaveResult writeFileReplacing(const QString &path, const QByteArray &bytes);

} // namespace tovalin
