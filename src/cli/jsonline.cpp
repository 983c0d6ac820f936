#include "cli/jsonline.h"

#include <cstdio>

namespace tovalin {

namespace {

QByteArray escaped(const QString &value)
{
    QByteArray out = "\"";
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        char buffer[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else if (QChar::isHighSurrogate(c) && i + 1 < value.size() && QChar::isLowSurrogate(value[i + 1].unicode())) {
            out += value.mid(i, 2).toUtf8();
            ++i;
        } else if (QChar::isSurrogate(c)) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    return out + "\"";
}

} // namespace

void JsonLine::key(const char *name)
{
    if (m_text.size() > 1)
        m_text += ',';
    m_text += '"';
    m_text += name;
    m_text += "\":";
}

JsonLine &JsonLine::add(const char *name, const QString &value)
{
    key(name);
    m_text += escaped(value);
    return *this;
}

JsonLine &JsonLine::add(const char *name, std::optional<long long> value)
{
    key(name);
    m_text += value ? QByteArray::number(*value) : QByteArray("null");
    return *this;
}

JsonLine &JsonLine::add(const char *name, bool value)
{
    key(name);
    m_text += value ? "true" : "false";
    return *this;
}

JsonLine &JsonLine::addNull(const char *name)
{
    key(name);
    m_text += "null";
    return *this;
}

} // namespace tovalin
