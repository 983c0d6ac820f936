#include "batch/collect.h"

#include "common/nativepath.h"
#include "imaging/decode/decode.h"


#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovalin {

namespace {

bool startsLikePicture(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char head[64];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n > 0 && looksLikePicture(QByteArray(head, int(n)));
}

// The folder's entries on their own bytes, in byte order.
QList<QByteArray> entriesOf(const QByteArray &folder)
{
    QList<QByteArray> names;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *e = ::readdir(dir))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(QByteArray(e->d_name));
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray realPath(const QByteArray &native)
{
    char *real = native.isEmpty() ? nullptr : ::realpath(native.constData(), nullptr);
    const QByteArray r = real ? QByteArray(real) : QByteArray();
    std::free(real);
    return r;
}

void walk(const QByteArray &folder, const QString &subfolder, bool recursive, const QByteArray &excluded, Collected &out)
{
    for (const QByteArray &name : entriesOf(folder)) {
        const QByteArray path = folder + '/' + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            continue;
        const bool isLink = S_ISLNK(st.st_mode);
        if (isLink && ::stat(path.constData(), &st) != 0)
            continue; // a dangling link
        const QString below = subfolder.isEmpty() ? pathFromNative(name) : subfolder + QLatin1Char('/') + pathFromNative(name);
        if (S_ISDIR(st.st_mode)) {
            if (recursive && !isLink && realPath(path) != excluded)
                walk(path, below, recursive, excluded, out);
            continue;
        }
        if (!S_ISREG(st.st_mode) || !startsLikePicture(path)) {
            ++out.skipped;
            continue;
        }
        out.inputs.push_back({pathFromNative(path), subfolder, false});
    }
}

} // namespace

Collected collectInputs(const QStringList &names, bool recursive, const QString &excluded)
{
    Collected out;
    const QByteArray skip = realPath(nativePath(excluded));
    for (const QString &name : names) {
        struct stat st {};
        const QByteArray native = nativePath(name);
        const bool isFolder = name != QLatin1String("-") && ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
        if (!isFolder) {
            out.inputs.push_back({name, QString(), true});
            continue;
        }
        if (skip.isEmpty() || realPath(native) != skip)
            walk(native.endsWith('/') && native.size() > 1 ? native.chopped(1) : native, QString(), recursive, skip, out);
    }
    return out;
}

} // namespace tovalin
