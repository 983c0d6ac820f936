#pragma once
#include <QHashFunctions>
#include <QString>
#include <optional>

namespace tovalin {

// A file's identity: its device and inode.
struct FileId {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileId &) const = default;
};
inline size_t qHash(const FileId &id, size_t seed = 0) { return qHashMulti(seed, id.device, id.inode); }

// Empty when the path cannot be looked up; links are followed.
std::optional<FileId> fileId(const QString &path);

// Whether two paths name one file: the same device and inode, so a link, a
// hard link or a name differing only in case on a FAT card all count.
// False when either cannot be looked up.
bool sameFile(const QString &a, const QString &b);

} // namespace tovalin
