#include "common/savefile.h"

#include "common/nativepath.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovalin {

namespace {

// A fresh file beside the target, made by us alone (O_EXCL: never an
// existing file or a link someone put there); -1 with errno set on failure.
int createTemporary(const QByteArray &folder, const QByteArray &name, QByteArray &tempPath)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempPath = folder + '/' + '.' + name.left(200) + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36)
                   + ".tmp";
        const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool writeAllBytes(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    for (qsizetype left = bytes.size(); left > 0;) {
        const ssize_t n = ::write(fd, at, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

namespace {

SaveError writeError() { return errno == ENOSPC || errno == EDQUOT ? SaveError::DiskFull : SaveError::WriteFailed; }

// Puts the finished file at the name only if nothing stands there, in one
// step the kernel checks: renameat2's RENAME_NOREPLACE, or a hard link
// where the file system lacks it. Where neither works (FAT), a check right
// before the rename is the narrowest window to be had.
int placeWithoutReplacing(const QByteArray &temp, const QByteArray &target)
{
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    if (::link(temp.constData(), target.constData()) == 0) {
        ::unlink(temp.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return -1;
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(temp.constData(), target.constData());
}

} // namespace

SaveError writeFileReplacing(const QString &path, const QByteArray &bytes, bool durable, Existing existing)
{
    const QString absolute = absolutePath(path);
    if (fileNameOf(absolute).isEmpty())
        return SaveError::NoFileName;
    const QByteArray name = nativePath(fileNameOf(absolute));
    if (name.size() > NAME_MAX)
        return SaveError::NameTooLong;
    const QByteArray finalPath = nativePath(absolute);
    const QByteArray folder = nativePath(folderOf(absolute));
    struct stat dir {};
    if (::stat(folder.constData(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        return SaveError::NoFolder;

    // What stands at the name now, itself: a link is never followed.
    struct stat old {};
    const bool exists = ::lstat(finalPath.constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return SaveError::IsFolder;
    if (exists && existing == Existing::Keep)
        return SaveError::Exists;
    if (exists && S_ISREG(old.st_mode) && ::access(finalPath.constData(), W_OK) != 0)
        return SaveError::FileReadOnly;

    QByteArray tempPath;
    const int fd = createTemporary(folder, name, tempPath);
    if (fd < 0)
        return errno == EACCES || errno == EPERM || errno == EROFS ? SaveError::FolderNotWritable : writeError();
    // A replaced file keeps its permissions, as an editor's save would.
    if (exists && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
    // Written whole and on disk before the rename, so the name holds the old
    // file or the new one, never a part.
    const bool written = writeAllBytes(fd, bytes) && (!durable || ::fdatasync(fd) == 0);
    const SaveError failed = written ? SaveError::None : writeError();
    ::close(fd);
    if (!written) {
        ::unlink(tempPath.constData());
        return failed;
    }
    // rename replaces a link itself, never the file it points to.
    const int placed = existing == Existing::Keep ? placeWithoutReplacing(tempPath, finalPath)
                                                  : ::rename(tempPath.constData(), finalPath.constData());
    if (placed != 0) {
        const int why = errno;
        ::unlink(tempPath.constData());
        if (why == EEXIST)
            return SaveError::Exists;
        // In a shared (sticky) folder only a file's owner may replace it.
        if (why == EPERM || why == EACCES)
            return exists && S_ISLNK(old.st_mode) ? SaveError::LinkNotReplaceable : SaveError::FileReadOnly;
        return why == ENOSPC ? SaveError::DiskFull : SaveError::WriteFailed;
    }
    return SaveError::None;
}

} // namespace tovalin
