#pragma once
#include <QByteArray>
#include <QString>

namespace tovalin {

// Why a file could not be saved; the window words it.
enum class SaveError {
    None,
    NoFileName,        // the name is empty or ends in a separator
    IsFolder,          // a folder of that name is in the way
    NoFolder,          // the folder does not exist
    NameTooLong,       // longer than the file system allows
    FolderNotWritable, // no permission to create files in the folder
    FileReadOnly,      // the existing file may not be replaced
    LinkNotReplaceable, // another user's link stands at the name in a shared folder
    DiskFull,          // no space left
    WriteFailed,       // any other failure to write or replace
    Exists,            // something stands at the name and may not be replaced
};

// Writes every byte to `fd`, over short writes and interruptions; false
// with errno set (EIO for a write that takes nothing).
bool writeAllBytes(int fd, const QByteArray &bytes);

enum class Existing {
    Replace, // a file at the name is replaced whole
    Keep,    // a file at the name, even one made while we write, is kept
};

// Writes the whole file beside the target and renames it over the target,
// so an existing file is replaced only by a complete new one, never lost.
// A symbolic link at the name is replaced itself: what it points to is
// never written, and a dangling link creates nothing elsewhere.
// `durable`: the bytes are on the disk before the rename (a power cut
// leaves the old file or the new one); files of our own that are only a
// convenience (the size search's work files) skip that wait.
// With Existing::Keep the last step itself refuses to replace anything
// (Exists), so a file that appears after any check is still kept.
SaveError writeFileReplacing(const QString &path, const QByteArray &bytes, bool durable = true,
                             Existing existing = Existing::Replace);

} // namespace tovalin
