#include "common/samefile.h"

#include "common/nativepath.h"

#include <sys/stat.h>

namespace tovalin {

std::optional<FileId> fileId(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(nativePath(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{quint64(st.st_dev), quint64(st.st_ino)};
}

bool sameFile(const QString &a, const QString &b)
{
    const std::optional<FileId> ia = fileId(a);
    const std::optional<FileId> ib = fileId(b);
    return ia && ib && *ia == *ib;
}

} // namespace tovalin
