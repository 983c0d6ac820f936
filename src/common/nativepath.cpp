#include "common/nativepath.h"

#include <cstdlib>
#include <unistd.h>

namespace tovalin {

namespace {

// The length of the valid UTF-8 sequence at p (1..4), or 0.
int validSequence(const unsigned char *p, qsizetype left)
{
    const unsigned char c = p[0];
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || n > left)
        return 0;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0; // overlong, out of range, or a surrogate
    return n;
}

} // namespace

QString pathFromNative(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (qsizetype at = 0; at < bytes.size();) {
        const int n = validSequence(p + at, bytes.size() - at);
        if (n == 0) {
            out += QChar(char16_t(0xDC00 + p[at]));
            ++at;
            continue;
        }
        out += QString::fromUtf8(bytes.constData() + at, n);
        at += n;
    }
    return out;
}

QByteArray nativePath(const QString &path)
{
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && QChar::isHighSurrogate(path[i - 1].unicode()))) {
            out += char(c - 0xDC00);
        } else if (QChar::isHighSurrogate(c) && i + 1 < path.size() && QChar::isLowSurrogate(path[i + 1].unicode())) {
            out += path.mid(i, 2).toUtf8();
            ++i;
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    return out;
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString joinedPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || name.isEmpty())
        return folder + name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString absolutePath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')))
        return path;
    char *cwd = ::getcwd(nullptr, 0);
    const QString here = cwd ? pathFromNative(QByteArray(cwd)) : QStringLiteral("/");
    std::free(cwd);
    QString relative = path;
    while (relative.startsWith(QLatin1String("./")))
        relative = relative.mid(2);
    return relative == QLatin1String(".") ? here : joinedPath(here, relative);
}

} // namespace tovalin
