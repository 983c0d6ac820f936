#include "imaging/decode/decode_internal.h"

#include "common/helpers.h"

#include <algorithm>
#include <cstring>

// Qt converts a picture of 2 x 65536 pixels or more in segments on its own
// thread pool and waits for them: forever where no thread can be made. So
// every conversion of a whole picture here goes band by band, each band
// small enough for Qt to convert on the calling thread; a helper takes
// half of the bands. Qt's conversions work pixel by pixel, so the bytes
// are those of one conversion of the whole.
namespace tovalin::detail {

namespace {

int bandRows(int width)
{
    constexpr int kInlinePixels = (1 << 17) - 1;
    return std::max(1, kInlinePixels / std::max(1, width));
}

// Runs convertRows(first, end) over [0, height), on the caller and a helper.
template <typename ConvertRows>
void inHalves(int height, int rows, const ConvertRows &convertRows)
{
    const int half = height / rows / 2 * rows;
    Helper other([&] { convertRows(half, height); });
    convertRows(0, half);
    other.wait();
}

} // namespace

void convertBandsToSrgb(QImage &image)
{
    const QColorSpace from = image.colorSpace();
    const QColorSpace to(QColorSpace::SRgb);
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int width = image.width(), height = image.height();
    const QImage::Format format = image.format();
    const int rows = bandRows(width);
    const auto convertRows = [&](int first, int end) {
        for (int y = first; y < end; y += rows) {
            const int n = std::min(rows, end - y);
            QImage band(bits + y * stride, width, n, stride, format);
            band.setColorSpace(from);
            // Qt may convert into a new picture (RGB888 goes through 32 bits):
            // the band's rows are copied back.
            const QImage converted = band.convertedToColorSpace(to).convertToFormat(format);
            for (int r = 0; r < n; ++r)
                std::memcpy(bits + (y + r) * stride, converted.constScanLine(r), std::size_t(std::min(converted.bytesPerLine(), stride)));
        }
    };
    inHalves(height, rows, convertRows);
    image.setColorSpace(to);
}

QImage convertedInBands(const QImage &image, QImage::Format format)
{
    if (image.isNull() || image.format() == format)
        return image;
    QImage out(image.size(), format);
    if (out.isNull())
        return out;
    const int width = image.width();
    const int rows = bandRows(width);
    uchar *const outBits = out.bits(); // raw rows: the helper must not touch the QImage
    const qsizetype outStride = out.bytesPerLine();
    const qsizetype rowBytes = std::min(outStride, qsizetype(width) * out.depth() / 8);
    bool failed = false;
    const auto convertRows = [&](int first, int end) {
        for (int y = first; y < end; y += rows) {
            const int n = std::min(rows, end - y);
            QImage band(image.constScanLine(y), width, n, image.bytesPerLine(), image.format());
            band.setColorTable(image.colorTable());
            const QImage converted = band.convertToFormat(format);
            if (converted.isNull()) {
                failed = true;
                return;
            }
            for (int r = 0; r < n; ++r)
                std::memcpy(outBits + (y + r) * outStride, converted.constScanLine(r), std::size_t(rowBytes));
        }
    };
    inHalves(image.height(), rows, convertRows);
    if (failed)
        return {};
    out.setColorSpace(image.colorSpace());
    return out;
}

QImage packedAsRgb888(QImage image)
{
    if (!image.isDetached() || (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32))
        return convertedInBands(image, QImage::Format_RGB888);
    const int width = image.width(), height = image.height();
    const qsizetype outStride = (qsizetype(width) * 3 + 3) & ~qsizetype(3); // QImage's own RGB888 stride
    // The new picture lives in the old one's buffer, which it keeps.
    auto *holder = new QImage(std::move(image));
    uchar *bits = holder->bits();
    const qsizetype inStride = holder->bytesPerLine();
    // Each pixel moves to a place at or before its own, read before it is
    // written over: one forward pass, on this thread.
    for (int y = 0; y < height; ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(bits + y * inStride);
        uchar *out = bits + y * outStride;
        for (int x = 0; x < width; ++x) {
            const QRgb p = in[x];
            out[3 * x] = uchar(qRed(p));
            out[3 * x + 1] = uchar(qGreen(p));
            out[3 * x + 2] = uchar(qBlue(p));
        }
    }
    return QImage(bits, width, height, outStride, QImage::Format_RGB888, [](void *h) { delete static_cast<QImage *>(h); }, holder);
}

} // namespace tovalin::detail
