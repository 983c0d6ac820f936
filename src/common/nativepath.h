#pragma once
#include <QByteArray>
#include <QString>

namespace tovalin {

// File names are bytes on Linux and need not be UTF-8. A name is held as a
// QString with each byte that is not part of valid UTF-8 kept as a lone
// surrogate U+DC80..U+DCFF (as Python's "surrogateescape" does), so any
// name survives the round trip exactly; Qt's own conversion would turn such
// bytes into U+FFFD and lose the file.
QString pathFromNative(const QByteArray &bytes);
QByteArray nativePath(const QString &path);

// Path arithmetic on such names, without Qt's file classes (which convert
// through Qt's own encoding): the last part, the folder before it ("/" for
// a name at the root, "." for a bare name), a name joined to a folder, and
// the path made absolute against the current folder.
QString fileNameOf(const QString &path);
QString folderOf(const QString &path);
QString joinedPath(const QString &folder, const QString &name);
QString absolutePath(const QString &path);

} // namespace tovalin
