#include "imaging/decode/decode.h"

#include "common/memorypolicy.h"
#include "common/nativepath.h"
#include "imaging/decode/decode_internal.h"
#include "imaging/decode/fastmemory.h"
#include "imaging/decode/heif_boxes.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovalin {

namespace detail {

namespace {

std::uint32_t readU16(const std::uint8_t *p, bool little) { return little ? p[0] | p[1] << 8 : p[0] << 8 | p[1]; }
std::uint32_t readU32(const std::uint8_t *p, bool little)
{
    return little ? readU16(p, true) | readU16(p + 2, true) << 16 : readU16(p, false) << 16 | readU16(p + 2, false);
}

} // namespace

int exifOrientation(const std::uint8_t *tiff, std::size_t size)
{
    if (size < 8 || (std::memcmp(tiff, "II", 2) != 0 && std::memcmp(tiff, "MM", 2) != 0))
        return 1;
    const bool little = tiff[0] == 'I';
    const std::uint32_t ifd = readU32(tiff + 4, little);
    if (ifd > size - 2)
        return 1;
    const std::uint32_t entries = readU16(tiff + ifd, little);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + std::size_t(i) * 12;
        if (at + 12 > size)
            return 1;
        if (readU16(tiff + at, little) == 0x0112) {
            const std::uint32_t value = readU16(tiff + at + 8, little);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

QImage applyOrientation(const QImage &image, int orientation)
{
    // 2..8: mirrored, upside down, flipped, transposed, turned right,
    // transversed, turned left.
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.transformed(QTransform(0, 1, 1, 0, 0, 0));
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.transformed(QTransform(0, -1, -1, 0, 0, 0));
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

bool needsSrgbConversion(const QColorSpace &from) { return from.isValid() && from != QColorSpace(QColorSpace::SRgb); }

bool resizedAtOnce(QSize from, QSize to)
{
    return to.isValid() && !to.isEmpty() && to != from && pixelsWithinBudget(to.width(), to.height());
}

void convertToSrgb(QImage &rgb888, const QColorSpace &from)
{
    if (needsSrgbConversion(from)) {
        rgb888.setColorSpace(from);
        convertBandsToSrgb(rgb888);
    }
    rgb888.setColorSpace(QColorSpace());
}

// Uncompressed rows must all be there; RLE data must reach its
// end-of-picture code.
bool bmpIsComplete(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 34)
        return false;
    const std::uint32_t offset = readU32(p + 10, true);
    const std::uint32_t header = readU32(p + 14, true);
    if (header < 40) // the old OS/2 header: only uncompressed rows
        return size >= 26 && std::size_t(offset) + std::size_t((readU16(p + 18, true) * readU16(p + 24, true) + 31) / 32 * 4) * readU16(p + 20, true) <= size;
    const std::int64_t width = std::int32_t(readU32(p + 18, true));
    const std::int64_t height = std::int32_t(readU32(p + 22, true));
    const std::uint32_t bits = readU16(p + 28, true);
    const std::uint32_t compression = readU32(p + 30, true);
    if (compression == 1 || compression == 2) {
        for (std::size_t at = offset; at + 1 < size;) {
            const std::uint8_t count = p[at], code = p[at + 1];
            at += 2;
            if (count != 0)
                continue;
            if (code == 1)
                return true;
            if (code == 2)
                at += 2;
            else if (code > 2) {
                const std::size_t run = compression == 1 ? code : (code + 1) / 2;
                at += (run + 1) & ~std::size_t(1);
            }
        }
        return false;
    }
    if (compression != 0 && compression != 3 && compression != 6)
        return true; // embedded JPEG or PNG: their own decoders check
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    const std::int64_t rows = height < 0 ? -height : height;
    if (rowBytes <= 0)
        return true; // no rows to miss: Qt's reader refuses such a header
    // offset + rowBytes * rows <= size, without overflowing for any header
    return offset <= size && rows <= (std::int64_t(size) - offset) / rowBytes;
}

// Walks the blocks up to the end of the first picture's data.
bool gifIsComplete(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 13)
        return false;
    std::size_t at = 13;
    if (p[10] & 0x80)
        at += 3u << ((p[10] & 7) + 1);
    auto skipSubBlocks = [&] {
        while (at < size && p[at] != 0)
            at += 1 + p[at];
        if (at >= size)
            return false;
        ++at;
        return true;
    };
    while (at < size) {
        const std::uint8_t block = p[at++];
        if (block == 0x21) {
            ++at; // label
            if (!skipSubBlocks())
                return false;
        } else if (block == 0x2C) {
            if (at + 9 > size)
                return false;
            const std::uint8_t flags = p[at + 8];
            at += 9;
            if (flags & 0x80)
                at += 3u << ((flags & 7) + 1);
            ++at; // LZW code size
            return skipSubBlocks();
        } else {
            return false;
        }
    }
    return false;
}

} // namespace detail

namespace {

using namespace detail;

const std::uint8_t *bytesOf(const QByteArray &a) { return reinterpret_cast<const std::uint8_t *>(a.constData()); }

// Formats told by their first bytes. Naming the format spares the reader
// from loading every image plugin to ask it (a third of the time of a
// small PNG).
QByteArray knownFormat(const QByteArray &bytes)
{
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return "gif";
    if (bytes.startsWith("BM"))
        return "bmp";
    return {};
}

// A picture of the size and format the reader will fill, all of colour 0
// (for an indexed picture, its first palette entry). The reader fills a
// picture of its own size and format as it is, so whatever it leaves
// unwritten (pixels an RLE bitmap skips, strips a TIFF lacks) has that
// colour instead of whatever the memory last held.
QImage filledForReader(const QImageReader &reader, QSize size)
{
    const QImage::Format format = reader.imageFormat();
    if (format == QImage::Format_Invalid || !size.isValid())
        return {};
    QImage image(size, format);
    image.fill(0);
    return image;
}

// Qt's readers hold the picture as 4 bytes a pixel.
constexpr int kQtBytesPerPixel = 4;

// The size a BMP's header claims; Qt's reader gives none for pictures over
// its own limit.
QSize bmpClaimedSize(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    if (bytes.size() < 26)
        return {};
    if (readU32(p + 14, true) < 40)
        return QSize(int(readU16(p + 18, true)), int(readU16(p + 20, true)));
    const std::int64_t height = std::int32_t(readU32(p + 22, true));
    return QSize(int(std::int32_t(readU32(p + 18, true))), int(std::min<std::int64_t>(height < 0 ? -height : height, INT32_MAX)));
}

// What the header tells, checked before any pixel buffer is made.
DecodeError checkClaimedSize(QSize size)
{
    if (!size.isValid())
        return DecodeError::None; // the reader finds out itself
    if (size.isEmpty())
        return DecodeError::NoPixels;
    return pixelsWithinBudget(size.width(), size.height(), kQtBytesPerPixel) ? DecodeError::None : DecodeError::TooLarge;
}

// A reader's picture made ready for output: RGB888, sRGB, over white.
DecodeResult preparedForOutput(DecodeResult decoded)
{
    if (decoded.error != DecodeError::None)
        return decoded;
    decoded.image = normalizeForOutput(std::move(decoded.image));
    if (decoded.image.isNull())
        decoded.error = DecodeError::OutOfMemory;
    return decoded;
}

// Any other format, through Qt's readers.
DecodeResult decodeWithQt(const QByteArray &bytes)
{
    const QByteArray known = knownFormat(bytes);
    QImage image;
    DecodeResult result;
    {
        // The reader goes before the picture is prepared: some (GIF) keep a
        // reference to it, and a shared picture is converted into a second
        // full-size copy instead of in place.
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, known);
        reader.setAutoDetectImageFormat(known.isEmpty());
        reader.setAutoTransform(true);
        if (!reader.canRead())
            return {{}, DecodeError::UnknownFormat, {}};
        const QByteArray format = reader.format();
        // Only the formats Tovalin names; each of their readers is checked
        // for pictures cut short or left partly unwritten.
        static const QByteArrayList accepted = {"gif", "bmp", "webp", "tiff"};
        if (!accepted.contains(format))
            return {{}, DecodeError::UnknownFormat, {}};
        result.size = format == "bmp" ? bmpClaimedSize(bytes) : reader.size();
        result.error = checkClaimedSize(result.size);
        if (result.error == DecodeError::None
            && ((format == "bmp" && !bmpIsComplete(bytes)) || (format == "gif" && !gifIsComplete(bytes))))
            result.error = DecodeError::Truncated;
        if (result.error != DecodeError::None)
            return result;
        image = filledForReader(reader, result.size);
        if (!reader.read(&image)) {
            result.error = reader.error() == QImageReader::InvalidDataError && reader.errorString().contains("memory")
                               ? DecodeError::OutOfMemory
                               : DecodeError::Damaged;
            return result;
        }
    }
    result.size = image.size();
    result.error = checkClaimedSize(result.size);
    if (result.error != DecodeError::None)
        return result;
    result.image = std::move(image);
    return preparedForOutput(std::move(result));
}

} // namespace

void setReaderLimits()
{
    // Qt refuses pictures over 128 MB before our own budget is asked;
    // allow what the budget allows, as 4 bytes a pixel.
    QImageReader::setAllocationLimit(int(maxPixels() * 4 / (1 << 20)) + 1);
}

QImage normalizeForOutput(QImage image)
{
    if (image.isNull())
        return image;
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb)) {
        if (image.format() == QImage::Format_Indexed8 || image.depth() < 8)
            image = convertedInBands(image, image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        convertBandsToSrgb(image);
    }
    if (image.hasAlphaChannel()) {
        // The output has no alpha: blend each pixel over white.
        image = convertedInBands(image, QImage::Format_ARGB32);
        if (image.isNull())
            return image;
        for (int y = 0; y < image.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = row[x];
                const int a = qAlpha(p);
                row[x] = qRgb(overWhite(qRed(p), a), overWhite(qGreen(p), a), overWhite(qBlue(p), a));
            }
        }
    }
    // Every pixel is opaque now; a 32-bit picture becomes RGB888 in its own
    // memory (a 16000 x 16000 GIF screen would need 1.7 GB otherwise).
    image = packedAsRgb888(std::move(image));
    image.setColorSpace(QColorSpace());
    return image;
}

DecodeResult decodeImageData(const QByteArray &bytes, const SizeFor &resizeTo)
{
    const std::uint8_t *p = bytesOf(bytes);
    const std::size_t size = std::size_t(bytes.size());
    // Any start-of-image marker: libjpeg passes over stray bytes before the
    // next marker, and checks the rest as it does for every JPEG.
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xD8) {
        if (resizeTo)
            if (std::optional<DecodeResult> resized = decodeJpegResized(p, size, resizeTo))
                return std::move(*resized);
        return decodeJpeg(p, size);
    }
    if (looksLikeHeif(p, size))
        return decodeHeif(p, size, resizeTo);
    if (looksLikePng(p, size))
        return preparedForOutput(decodePng(p, size));
    return decodeWithQt(bytes);
}


FileBytes readImageFile(const QString &path, std::int64_t headBytes)
{
    const QByteArray native = nativePath(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return {{}, errno == ENOENT || errno == ENOTDIR ? DecodeError::NotFound : DecodeError::CannotOpen};
    if (S_ISDIR(st.st_mode))
        return {{}, DecodeError::IsFolder};
    // Read, not mapped: a mapped file that shrinks while it is decoded
    // kills the process (SIGBUS); a read one is only short.
    const int fd = S_ISREG(st.st_mode) ? ::open(native.constData(), O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0)
        return {{}, DecodeError::CannotOpen};
    FileBytes file;
    bool whole = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    file.fileSize = st.st_size;
    // Refused from its length before any buffer is made for it.
    if (whole && st.st_size > maxFileBytes()) {
        ::close(fd);
        file.error = DecodeError::TooLarge;
        return file;
    }
    const std::int64_t wanted = headBytes > 0 ? std::min<std::int64_t>(headBytes, st.st_size) : st.st_size;
    if (whole && wanted > 0) {
        try {
            file.bytes = QByteArray(qsizetype(wanted), Qt::Uninitialized);
        } catch (const std::bad_alloc &) {
            ::close(fd);
            file.error = DecodeError::OutOfMemory;
            return file;
        }
        preferLargePages(file.bytes.data(), std::size_t(file.bytes.size()));
        qsizetype got = 0;
        while (got < file.bytes.size()) {
            const ssize_t n = ::read(fd, file.bytes.data() + got, std::size_t(file.bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        whole = got == file.bytes.size();
    }
    ::close(fd);
    if (!whole)
        return {{}, st.st_size > 0 ? DecodeError::Truncated : DecodeError::CannotOpen, file.fileSize};
    return file;
}

DecodeResult decodeImageFile(const QString &path)
{
    const FileBytes file = readImageFile(path);
    if (file.error != DecodeError::None)
        return {{}, file.error, {}};
    return decodeImageData(file.bytes);
}

bool looksLikePicture(const QByteArray &head)
{
    const auto *p = bytesOf(head);
    const std::size_t size = std::size_t(head.size());
    return (size >= 2 && p[0] == 0xFF && p[1] == 0xD8) || looksLikeHeif(p, size) || looksLikePng(p, size)
           || !knownFormat(head).isEmpty()
           || (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP") || head.startsWith(QByteArray("II*\0", 4))
           || head.startsWith(QByteArray("MM\0*", 4));
}

QByteArray pictureExif(const QByteArray &bytes)
{
    const auto *p = bytesOf(bytes);
    const std::size_t size = std::size_t(bytes.size());
    if (looksLikeHeif(p, size))
        return heifExif(p, size);
    if (size < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return {};
    // The segments before the first scan.
    for (std::size_t at = 2; at + 4 <= size && p[at] == 0xFF;) {
        const std::uint8_t marker = p[at + 1];
        const std::size_t length = std::size_t(p[at + 2]) << 8 | p[at + 3];
        if (marker == 0xDA || marker == 0xD9 || length < 2 || at + 2 + length > size)
            break;
        if (marker == 0xE1 && length >= 8 && std::memcmp(p + at + 4, "Exif\0\0", 6) == 0)
            return bytes.mid(qsizetype(at + 10), qsizetype(length - 8));
        at += 2 + length;
    }
    return {};
}

QSize claimedPictureSize(const QByteArray &bytes)
{
    const auto *p = bytesOf(bytes);
    const std::size_t size = std::size_t(bytes.size());
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xD8)
        return jpegClaimedSize(p, size);
    if (looksLikeHeif(p, size))
        return readHeifSizes(p, size).output;
    if (looksLikePng(p, size))
        return pngClaimedSize(p, size);
    const QByteArray known = knownFormat(bytes);
    if (known == "bmp")
        return bmpClaimedSize(bytes);
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, known);
    return reader.size();
}

} // namespace tovalin
