#pragma once
#include <cstdint>
#include <functional>
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace tovalin {

// What went wrong when a picture could not be read; the window words it.
enum class DecodeError {
    None,
    NotFound,      // no such file
    IsFolder,      // a folder, not a file
    CannotOpen,    // the file exists but cannot be read (permissions)
    UnknownFormat, // not a picture we can read
    Truncated,     // the file ends before the picture does
    Damaged,       // the picture's data is corrupt
    NoPixels,      // a side of 0 pixels
    TooLarge,      // more pixels than we agree to hold (size says how many)
    OutOfMemory,   // within budget, but the memory was not there
};

struct DecodeResult {
    QImage image; // Format_RGB888 in sRGB, null on failure
    DecodeError error = DecodeError::None;
    QSize size;   // the size the file claims, when known (TooLarge)
    bool resized = false; // the image is resizeTo(the picture's size), made as it was decoded
};

// Reads a picture, choosing the decoder by its content: JPEG (data after
// the end of the picture ignored), HEIC/HEIF and AVIF, PNG, and the other
// formats of Qt's readers. The result is ready for output: orientation
// applied, colours in sRGB, transparency blended over white. Pictures over
// the memory budget are refused from their header, before any pixel buffer
// is made; files cut short or corrupt are refused.
//
// With `resizeTo`, a picture whose rows can go straight into the resampler
// (a JPEG seen as stored, or a HEIF picture, in sRGB) comes bicubically
// resized to resizeTo(its size) (`resized` set), with the bytes of resizing
// the whole picture: the full-size picture is never held, so there is less
// memory to find, clear and read back. Any other picture, or an invalid or
// unchanged size, comes whole.
using SizeFor = std::function<QSize(QSize)>;
DecodeResult decodeImageFile(const QString &path);
DecodeResult decodeImageData(const QByteArray &bytes, const SizeFor &resizeTo = {});


// A picture file's bytes, read whole (a file that shrinks while it is read
// is Truncated), or only its first `headBytes` when that is positive;
// `error` is None on success. A file larger than maxFileBytes() is
// TooLarge before anything is read, and one whose buffer cannot be had is
// OutOfMemory.
struct FileBytes {
    QByteArray bytes;
    DecodeError error = DecodeError::None;
    std::int64_t fileSize = 0; // the whole file's
};
FileBytes readImageFile(const QString &path, std::int64_t headBytes = 0);

// Enough of a file's start for claimedPictureSize() in the common cases
// (the size of a JPEG after its EXIF and colour profile, a PNG, a HEIF whose
// boxes come first).
constexpr std::int64_t kHeadBytes = 256 << 10;

// Whether the first bytes are those of a format Tovalin reads (JPEG,
// HEIC/HEIF/AVIF, PNG, WebP, TIFF, GIF, BMP): what a folder walk takes.
bool looksLikePicture(const QByteArray &head);

// The picture's EXIF as a TIFF structure (from a JPEG's APP1 or a HEIF's
// Exif item); empty when it has none.
QByteArray pictureExif(const QByteArray &bytes);

// The size a picture's header claims, cheaply (no pixels are decoded);
// invalid when the header does not tell.
QSize claimedPictureSize(const QByteArray &bytes);

// The same preparation for a picture already decoded (a clipboard image).
// Null when the pixels do not fit in memory.
QImage normalizeForOutput(QImage image);

} // namespace tovalin

namespace tovalin {
// Lets Qt's own readers (also behind clipboard images) take pictures up to
// our memory budget. Call once at start-up.
void setReaderLimits();
}
