#pragma once
#include <QImage>
#include <QString>

namespace tovalin {

struct DecodeResult {
    QImage image;  // RGB888, null on failure
    QString error; // Japanese reason when image is null
};

// Reads an image file through Qt's image readers, ready for output: EXIF
// orientation applied, colours in sRGB, transparency flattened onto white.
DecodeResult decodeImageFile(const QString &path);

// The same preparation for an image that did not come from a file (paste).
// Null when the pixels do not fit in memory.
QImage normalizeForOutput(QImage image);

} // namespace tovalin
