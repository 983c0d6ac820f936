#include "app/settingsfile.h"

namespace tovalin {

QByteArray formatSettings(const SavedSettings &s)
{
    return "\"" + s.folder.toLocal8Bit() + "\",\"" + s.targetSize.toLocal8Bit() + "\"\r\n";
}

namespace {

// One field from `pos`: blanks (spaces, tabs) skipped; a quoted field runs
// to its closing quote, an unquoted one to a comma or the line end, so a
// field that starts at the line end is empty.
std::optional<QByteArray> readField(const QByteArray &line, qsizetype &pos)
{
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    QByteArray field;
    if (pos < line.size() && line[pos] == '"') {
        const qsizetype close = line.indexOf('"', pos + 1);
        if (close < 0)
            return std::nullopt;
        field = line.mid(pos + 1, close - pos - 1);
        pos = close + 1;
        while (pos < line.size() && line[pos] != ',')
            ++pos;
    } else {
        const qsizetype comma = line.indexOf(',', pos);
        const qsizetype end = comma < 0 ? line.size() : comma;
        field = line.mid(pos, end - pos);
        pos = end;
    }
    if (pos < line.size() && line[pos] == ',')
        ++pos;
    return field;
}

} // namespace

std::optional<SavedSettings> parseSettings(const QByteArray &bytes)
{
    if (bytes.size() > kMaxSettingsBytes || bytes.contains('\0'))
        return std::nullopt;
    qsizetype end = bytes.indexOf('\n');
    QByteArray line = bytes.left(end < 0 ? bytes.size() : end);
    if (line.endsWith('\r'))
        line.chop(1);
    qsizetype pos = 0;
    const std::optional<QByteArray> folder = readField(line, pos);
    if (!folder || folder->isEmpty() || !line.left(pos).endsWith(','))
        return std::nullopt; // the second field begins after a comma
    const std::optional<QByteArray> size = readField(line, pos);
    if (!size)
        return std::nullopt;
    return SavedSettings{QString::fromLocal8Bit(*folder), QString::fromLocal8Bit(*size)};
}

} // namespace tovalin
