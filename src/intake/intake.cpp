#include "intake/intake.h"

#include "common/numbers.h"

#include <QFileInfo>

namespace tovalin {

QString derivedOutputName(const QString &droppedPath)
{
    const qsizetype slash = droppedPath.lastIndexOf(QLatin1Char('/'));
    QString name = droppedPath.mid(slash < 0 ? 0 : slash);
    if (slash < 0)
        name.prepend(QLatin1Char('/'));
    if (name.size() < 3)
        return name + QStringLiteral(".jpg");
    name.replace(name.size() - 3, 3, QStringLiteral("jpg"));
    return name;
}

QString sourceInfoLine(const QString &sourcePath)
{
    const QFileInfo info(sourcePath);
    if (!info.isFile())
        return sourcePath;
    const qint64 bytes = info.size();
    return sourcePath + QLatin1Char(' ') + decimalText(kilobyteFigure(bytes)) + QStringLiteral("Kb (")
           + decimalText(bytes) + QStringLiteral("Byte)");
}

} // namespace tovalin
