#include "common/savefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace tovalin {

SaveError writeFileReplacing(const QString &path, const QByteArray &bytes)
{
    const QFileInfo target(path);
    if (target.fileName().isEmpty())
        return SaveError::NoFileName;
    if (target.isDir())
        return SaveError::IsFolder;
    if (QFile::encodeName(target.fileName()).size() > NAME_MAX)
        return SaveError::NameTooLong;
    if (!target.dir().exists())
        return SaveError::NoFolder;

    QSaveFile file(path);
    // Keep the rename atomic even where the folder is not writable for a
    // temporary file: then fail rather than write the target in place.
    file.setDirectWriteFallback(false);
    // Unbuffered: Qt's buffered writes lose the error of a flush that the
    // disk cuts short (a full disk), and the rename would then put a
    // truncated file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (target.exists() && !target.isWritable())
            return SaveError::FileReadOnly;
        if (::access(QFile::encodeName(target.absolutePath()).constData(), W_OK) != 0)
            return SaveError::FolderNotWritable;
        return SaveError::WriteFailed;
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const bool full = errno == ENOSPC;
        file.cancelWriting();
        return full ? SaveError::DiskFull : SaveError::WriteFailed;
    }
    errno = 0;
    if (!file.commit())
        return errno == ENOSPC ? SaveError::DiskFull : SaveError::WriteFailed;
    return SaveError::None;
}

} // namespace tovalin
