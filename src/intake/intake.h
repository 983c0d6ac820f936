#pragma once
#include <QString>

namespace tovalin {

// "/" + the dropped file's name with its last three characters overwritten
// by "jpg": cat.bmp -> /cat.jpg, pic.jpeg -> /pic.jjpg, README -> /REAjpg.
// A name of two characters loses the separator itself (ab -> pg); shorter
// names, which would run outside the string, give "/" + name + ".jpg".
QString derivedOutputName(const QString &droppedPath);

// "<path> <figure>Kb (<bytes>Byte)", or just the path when the file's
// length cannot be read (it vanished).
QString sourceInfoLine(const QString &sourcePath);

} // namespace tovalin
