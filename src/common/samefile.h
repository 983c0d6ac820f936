#pragma once
#include <QString>

namespace tovalin {

// Whether two paths name one file: the same device and inode, so a link, a
// hard link or a name differing only in case on a FAT card all count.
// False when either cannot be looked up.
bool sameFile(const QString &a, const QString &b);

} // namespace tovalin
