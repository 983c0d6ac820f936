#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace tovalin {

// One JSON object on one line, its keys in the order they are added.
// Strings are UTF-8; a name's bytes that are not UTF-8 (held as lone
// surrogates U+DC80..U+DCFF) are written as "\udcXX" escapes, so a reader
// that decodes with "surrogateescape" gets the exact bytes back.
class JsonLine {
public:
    JsonLine &add(const char *key, const QString &value);
    JsonLine &add(const char *key, std::optional<long long> value);
    JsonLine &add(const char *key, bool value);
    JsonLine &addNull(const char *key);
    QByteArray line() const { return m_text + "}\n"; }

private:
    void key(const char *name);
    QByteArray m_text = "{";
};

} // namespace tovalin
