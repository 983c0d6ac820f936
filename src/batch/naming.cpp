#include "batch/naming.h"

#include "common/nativepath.h"
#include "common/samefile.h"

namespace tovalin {

namespace {

QString baseOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name; // ".profile" keeps its name
}

} // namespace

QString batchOutputName(const QString &inputName, const QString &suffix)
{
    return baseOf(inputName) + suffix + QStringLiteral(".jpg");
}

QStringList runOutputNames(const QString &inputName, const QString &suffix)
{
    QStringList names{baseOf(inputName) + QStringLiteral("_resized.jpg")};
    if (!suffix.isEmpty())
        names << batchOutputName(inputName, suffix);
    return names;
}

bool suffixUsable(const QString &suffix)
{
    return !suffix.contains(QLatin1Char('/')) && !suffix.contains(QChar(0));
}

QString batchOutputPath(const QString &inputPath, const QString &folder, const QString &suffix, bool inPlace)
{
    // Standard input's picture is named for it.
    const QString name = inputPath == QLatin1String("-") ? QStringLiteral("stdin") : fileNameOf(inputPath);
    const QString path = joinedPath(folder, batchOutputName(name, suffix));
    const bool isInput = absolutePath(path) == absolutePath(inputPath) || sameFile(path, inputPath);
    if (!isInput || inPlace)
        return path;
    return joinedPath(folder, baseOf(name) + suffix + QStringLiteral("_resized.jpg"));
}

} // namespace tovalin
