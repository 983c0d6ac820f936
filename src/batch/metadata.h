#pragma once
#include <QByteArray>

namespace tovalin {

// The EXIF a batch keeps with --metadata safe, as a whole APP1 segment for
// the output JPEG: the date taken, the camera's make and model and the
// exposure; no place (GPS), maker notes, serial numbers, owner, thumbnail
// or XMP. The orientation is recorded as normal, since the pixels are
// already turned. Empty when the picture carries no EXIF.
QByteArray safeMetadataSegment(const QByteArray &pictureBytes);

} // namespace tovalin
