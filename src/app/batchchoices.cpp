#include "app/batchchoices.h"

#include "app/settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace tovalin {

QByteArray formatChoices(const BatchChoices &c)
{
    const QJsonObject o{
        {QStringLiteral("besideEach"), c.besideEach},
        {QStringLiteral("folder"), c.folder},
        {QStringLiteral("suffix"), c.suffix},
        {QStringLiteral("byEdge"), c.byEdge},
        {QStringLiteral("percent"), c.percent},
        {QStringLiteral("edge"), c.edge},
        {QStringLiteral("bySize"), c.mode == JobMode::TargetSize},
        {QStringLiteral("factor"), c.factor},
        {QStringLiteral("targetKb"), c.targetKb},
        {QStringLiteral("shrink"), c.shrink},
        {QStringLiteral("noEnlarge"), c.noEnlarge},
        {QStringLiteral("safeMetadata"), c.safeMetadata},
        {QStringLiteral("keepDate"), c.keepDate},
    };
    return QJsonDocument(o).toJson();
}

std::optional<BatchChoices> parseChoices(const QByteArray &bytes, const BatchChoices &fallback)
{
    if (bytes.size() > kMaxSettingsBytes)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    BatchChoices c = fallback;
    const auto flag = [&o](const char *key, bool &into) {
        if (const QJsonValue v = o.value(QLatin1String(key)); v.isBool())
            into = v.toBool();
    };
    const auto text = [&o](const char *key, QString &into) {
        if (const QJsonValue v = o.value(QLatin1String(key)); v.isString())
            into = v.toString();
    };
    flag("besideEach", c.besideEach);
    text("folder", c.folder);
    text("suffix", c.suffix);
    flag("byEdge", c.byEdge);
    text("percent", c.percent);
    text("edge", c.edge);
    bool bySize = c.mode == JobMode::TargetSize;
    flag("bySize", bySize);
    c.mode = bySize ? JobMode::TargetSize : JobMode::Factor;
    text("factor", c.factor);
    text("targetKb", c.targetKb);
    flag("shrink", c.shrink);
    flag("noEnlarge", c.noEnlarge);
    flag("safeMetadata", c.safeMetadata);
    flag("keepDate", c.keepDate);
    return c;
}

std::optional<BatchChoices> readChoices(const QString &path, const BatchChoices &fallback)
{
    // Only a regular file, and only as much as ours can hold.
    QFile file(path);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseChoices(file.read(kMaxSettingsBytes + 1), fallback);
}

} // namespace tovalin
