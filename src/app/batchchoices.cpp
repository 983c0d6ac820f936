#include "app/batchchoices.h"

#include "app/settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace tovalin {

namespace {

// The file's members: its texts and flags by name, and the mode as a flag.
struct TextMember {
    const char *key;
    QString BatchChoices::*member;
};
struct FlagMember {
    const char *key;
    bool BatchChoices::*member;
};
constexpr TextMember kTexts[] = {{"folder", &BatchChoices::folder},   {"suffix", &BatchChoices::suffix},
                                 {"percent", &BatchChoices::percent}, {"edge", &BatchChoices::edge},
                                 {"factor", &BatchChoices::factor},   {"targetKb", &BatchChoices::targetKb}};
constexpr FlagMember kFlags[] = {{"besideEach", &BatchChoices::besideEach}, {"byEdge", &BatchChoices::byEdge},
                                 {"shrink", &BatchChoices::shrink},         {"noEnlarge", &BatchChoices::noEnlarge},
                                 {"safeMetadata", &BatchChoices::safeMetadata}, {"keepDate", &BatchChoices::keepDate}};
constexpr const char *kBySize = "bySize";

} // namespace

QByteArray formatChoices(const BatchChoices &c)
{
    QJsonObject o;
    for (const TextMember &t : kTexts)
        o.insert(QLatin1String(t.key), c.*t.member);
    for (const FlagMember &f : kFlags)
        o.insert(QLatin1String(f.key), c.*f.member);
    o.insert(QLatin1String(kBySize), c.mode == JobMode::TargetSize);
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
    for (const TextMember &t : kTexts)
        if (const QJsonValue v = o.value(QLatin1String(t.key)); v.isString())
            c.*t.member = v.toString();
    for (const FlagMember &f : kFlags)
        if (const QJsonValue v = o.value(QLatin1String(f.key)); v.isBool())
            c.*f.member = v.toBool();
    if (const QJsonValue v = o.value(QLatin1String(kBySize)); v.isBool())
        c.mode = v.toBool() ? JobMode::TargetSize : JobMode::Factor;
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
