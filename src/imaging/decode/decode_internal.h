#pragma once
#include "imaging/decode/decode.h"

#include <QColorSpace>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/resample/resample.h"

// The format-specific decoders behind decodeImageData.
namespace tovalin::detail {

// `parts`: how many threads share the rows (the result is the same).
DecodeResult decodeJpeg(const std::uint8_t *data, std::size_t size, int parts = 2);
// The JPEG resized as it is decoded (see decodeImageData); nullopt when
// it is not a picture for that, its size not one to make, or its header
// cannot be read: the caller decodes it whole.
std::optional<DecodeResult> decodeJpegResized(const std::uint8_t *data, std::size_t size, const SizeFor &sizeFor,
                                              int parts = 2);
// The size a JPEG's frame header claims; invalid when it cannot be read.
QSize jpegClaimedSize(const std::uint8_t *data, std::size_t size);
bool looksLikeHeif(const std::uint8_t *data, std::size_t size);
DecodeResult decodeHeif(const std::uint8_t *data, std::size_t size, const SizeFor &resizeTo = {});
// A PNG as Qt's reader gives it (format, colour table, colour space), not
// yet prepared for output.
DecodeResult decodePng(const std::uint8_t *data, std::size_t size);
bool looksLikePng(const std::uint8_t *data, std::size_t size);
// The size a PNG's header claims; invalid when it cannot be read.
QSize pngClaimedSize(const std::uint8_t *data, std::size_t size);
// The primary picture's EXIF from its Exif item (TIFF structure), through
// libheif; empty when there is none.
QByteArray heifExif(const std::uint8_t *data, std::size_t size);

// Whether a BMP's or GIF's first picture is wholly inside the file: Qt's
// readers accept such files cut short and leave the missing rows unwritten.
bool bmpIsComplete(const QByteArray &bytes);
bool gifIsComplete(const QByteArray &bytes);


// EXIF orientation (1..8) from the TIFF structure of an Exif block; 1 when
// absent or unreadable.
int exifOrientation(const std::uint8_t *tiff, std::size_t size);
// The picture as it should be seen for an EXIF orientation.
QImage applyOrientation(const QImage &image, int orientation);

// A colour component of a pixel with alpha `a`, blended over white.
inline int overWhite(int c, int a) { return (c * a + 255 * (255 - a) + 127) / 255; }

// Converts a picture to sRGB in place from its own colour space, in bands
// Qt converts on the calling thread.
void convertBandsToSrgb(QImage &image);

// The picture in another format, converted in bands Qt converts on the
// calling thread; null when memory runs out.
QImage convertedInBands(const QImage &image, QImage::Format format);

// An opaque picture as RGB888: a 32-bit one (RGB32, or ARGB32 whose alpha
// is all 255) in its own memory, with no second full-size buffer, the same
// bytes as Qt's conversion; any other, or a shared one, converted in bands.
QImage packedAsRgb888(QImage image);

// Whether `to` is a size a picture of `from` is resized to as it is decoded.
bool resizedAtOnce(QSize from, QSize to);

// Rows handed on to a resampler a few at a time, as they are made, so the
// pair kernel sees pairs and the rows are still in the cache.
class RowsToResampler {
public:
    RowsToResampler(RowResampler &resampler, int width)
        : m_resampler(resampler), m_stride(std::size_t(width) * 3), m_rows(m_stride * kRows), m_first(resampler.firstRow())
    {
    }
    // Where source row y is to be written; rows come in order.
    std::uint8_t *row(int y) { return &m_rows[std::size_t(y - m_first) * m_stride]; }
    void written(int y)
    {
        if (y + 1 - m_first == kRows)
            flush(y + 1);
    }
    // Hands on the rows written before `end`.
    void flush(int end)
    {
        m_resampler.push(m_rows.data(), end - m_first, std::ptrdiff_t(m_stride));
        m_first = end;
    }

private:
    static constexpr int kRows = 8;
    RowResampler &m_resampler;
    std::size_t m_stride;
    std::vector<std::uint8_t> m_rows;
    int m_first; // the source row in the first slot
};

// Whether pixels in the colour space must be converted for sRGB output.
bool needsSrgbConversion(const QColorSpace &from);
// Converts an RGB888 picture to sRGB from the given colour space (no-op for
// an invalid one or sRGB itself).
void convertToSrgb(QImage &rgb888, const QColorSpace &from);

} // namespace tovalin::detail
