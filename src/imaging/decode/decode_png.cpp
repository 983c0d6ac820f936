#include "common/memorypolicy.h"
#include "imaging/decode/decode_internal.h"
#include "imaging/decode/fastmemory.h"

#include <QColorSpace>

#include <cstring>
#include <memory>
#include <utility>

#include <spng.h>

// PNGs through libspng, to the very picture Qt's reader makes of them (its
// format, colour table, 16-bit samples and colour space), so every later
// step and every output byte stay as they were.
namespace tovalin::detail {

namespace {

// Qt's readers hold a picture as 4 bytes a pixel; the budget is asked so.
constexpr int kQtBytesPerPixel = 4;
// An ICC profile or text chunk larger than this is not a picture's.
constexpr std::size_t kMaxChunkBytes = 16 << 20;
constexpr std::size_t kMaxChunkCache = 64 << 20;

using Context = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

QSize sizeOf(const spng_ihdr &h)
{
    return QSize(int(std::min<std::uint32_t>(h.width, INT32_MAX)), int(std::min<std::uint32_t>(h.height, INT32_MAX)));
}

DecodeError errorOf(int e)
{
    return e == SPNG_EMEM ? DecodeError::OutOfMemory : DecodeError::Damaged;
}

// The colour space as Qt's reader reads it: a valid ICC profile first,
// then an sRGB chunk, then gAMA with cHRM's primaries (sRGB's without).
QColorSpace colourSpaceOf(spng_ctx *ctx)
{
    spng_iccp iccp{};
    if (spng_get_iccp(ctx, &iccp) == 0) {
        const QColorSpace icc = QColorSpace::fromIccProfile(QByteArray(iccp.profile, qsizetype(iccp.profile_len)));
        if (icc.isValid())
            return icc;
    }
    std::uint8_t intent = 0;
    if (spng_get_srgb(ctx, &intent) == 0 && intent <= 3)
        return QColorSpace(QColorSpace::SRgb);
    std::uint32_t gamaInt = 0;
    if (spng_get_gama_int(ctx, &gamaInt) != 0 || gamaInt == 0)
        return {};
    const float fileGamma = float(gamaInt / 100000.0);
    spng_chrm_int c{};
    if (spng_get_chrm_int(ctx, &c) == 0) {
        const auto point = [](std::uint32_t x, std::uint32_t y) { return QPointF(x / 100000.0, y / 100000.0); };
        const QPointF white = point(c.white_point_x, c.white_point_y), red = point(c.red_x, c.red_y),
                      green = point(c.green_x, c.green_y), blue = point(c.blue_x, c.blue_y);
        const auto chromaticity = [](QPointF p) { return p.x() >= 0 && p.x() <= 1 && p.y() > 0 && p.y() <= 1; };
        if (chromaticity(white) && chromaticity(red) && chromaticity(green) && chromaticity(blue))
            return QColorSpace(white, red, green, blue, QColorSpace::TransferFunction::Gamma, 1.0f / fileGamma);
    }
    return QColorSpace(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Gamma, 1.0f / fileGamma);
}

// What the picture becomes, as Qt's reader decides it.
struct Plan {
    QImage::Format format = QImage::Format_Invalid;
    int spngFormat = 0;
    bool swapRedBlue = false; // RGBA bytes into Qt's 32-bit ARGB (BGRA in memory)
    bool swapBytes = false;   // big-endian 16-bit grey into host order
    bool unpackIndices = false;
    QList<QRgb> colours;      // Indexed8
};

Plan planFor(spng_ctx *ctx, const spng_ihdr &h, const QColorSpace &space)
{
    Plan p;
    spng_trns trns{};
    const bool hasTrns = spng_get_trns(ctx, &trns) == 0;
    if (h.color_type == SPNG_COLOR_TYPE_GRAYSCALE) {
        if (h.bit_depth == 16) {
            p.format = hasTrns ? QImage::Format_RGBA64 : QImage::Format_Grayscale16;
            p.spngFormat = hasTrns ? SPNG_FMT_RGBA16 : SPNG_FMT_RAW;
            p.swapBytes = !hasTrns;
        } else if (h.bit_depth == 8 && !hasTrns) {
            p.format = QImage::Format_Grayscale8;
            p.spngFormat = SPNG_FMT_G8;
        } else {
            // Fewer bits, or a transparent grey: greys scaled to 8 bits as
            // Qt's colour table has them, the transparent one clear.
            p.format = QImage::Format_Indexed8;
            p.spngFormat = SPNG_FMT_G8;
            for (int i = 0; i < 256; ++i)
                p.colours << qRgb(i, i, i);
            const int levels = 1 << h.bit_depth;
            if (hasTrns && trns.gray < levels) {
                const int g = trns.gray * 255 / (levels - 1);
                p.colours[g] = h.bit_depth == 1 ? qRgba(g, g, g, 0) : 0;
            }
        }
    } else if (h.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (spng_get_plte(ctx, &plte) != 0)
            return p;
        p.format = QImage::Format_Indexed8;
        p.spngFormat = SPNG_FMT_PNG;
        p.unpackIndices = h.bit_depth < 8;
        for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
            const int alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            p.colours << qRgba(plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, alpha);
        }
        // A 1-bit picture has two colours, the second white (Qt's default)
        // when the palette has one.
        if (h.bit_depth == 1)
            p.colours.resize(2, qRgb(255, 255, 255));
    } else if (h.bit_depth == 16) {
        const bool opaque = h.color_type == SPNG_COLOR_TYPE_TRUECOLOR && !hasTrns;
        p.format = opaque ? QImage::Format_RGBX64 : QImage::Format_RGBA64;
        p.spngFormat = SPNG_FMT_RGBA16;
    } else if (h.color_type == SPNG_COLOR_TYPE_TRUECOLOR && !hasTrns) {
        // Qt's RGB32 picture would only be narrowed to RGB888 for output,
        // unless its colours are to be converted: read as RGB888 at once.
        const bool converted = space.isValid() && space != QColorSpace(QColorSpace::SRgb);
        p.format = converted ? QImage::Format_RGB32 : QImage::Format_RGB888;
        p.spngFormat = converted ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
        p.swapRedBlue = converted;
    } else {
        p.format = QImage::Format_ARGB32;
        p.spngFormat = SPNG_FMT_RGBA8;
        p.swapRedBlue = true;
    }
    return p;
}

void swapRedBlue(std::uint8_t *row, int width)
{
    for (int x = 0; x < width; ++x, row += 4)
        std::swap(row[0], row[2]);
}

void swapBytes(std::uint8_t *row, int width)
{
    for (int x = 0; x < width; ++x, row += 2)
        std::swap(row[0], row[1]);
}

// Packed palette indices (1, 2 or 4 bits, first pixel in the high bits)
// to one byte each, from the row's end so it can be done in place.
void unpackIndices(std::uint8_t *row, int width, int bits)
{
    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    for (int x = width - 1; x >= 0; --x)
        row[x] = std::uint8_t((row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & mask);
}

// The chunks after the pixels are read to the end (a file cut there is
// refused, as Qt's reader refuses it); indices past the palette show its
// first colour, as in Qt's reader; the colour space is set.
DecodeResult finished(spng_ctx *ctx, QImage image, const Plan &plan, const QColorSpace &space, DecodeResult result)
{
    if (const int e = spng_decode_chunks(ctx))
        return {{}, errorOf(e), result.size};
    if (plan.format == QImage::Format_Indexed8 && plan.colours.size() < 256) {
        uchar *const bits = image.bits();
        for (int y = 0; y < image.height(); ++y) {
            std::uint8_t *row = bits + y * image.bytesPerLine();
            for (int x = 0; x < image.width(); ++x)
                if (row[x] >= plan.colours.size())
                    row[x] = 0;
        }
    }
    if (space.isValid())
        image.setColorSpace(space);
    result.image = std::move(image);
    return result;
}

} // namespace

bool looksLikePng(const std::uint8_t *data, std::size_t size)
{
    return size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
}

QSize pngClaimedSize(const std::uint8_t *data, std::size_t size)
{
    const Context ctx(spng_ctx_new(0), spng_ctx_free);
    spng_ihdr h{};
    if (!ctx || spng_set_png_buffer(ctx.get(), data, size) || spng_get_ihdr(ctx.get(), &h))
        return {};
    return sizeOf(h);
}

DecodeResult decodePng(const std::uint8_t *data, std::size_t size)
{
    const Context ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx)
        return {{}, DecodeError::OutOfMemory, {}};
    spng_set_chunk_limits(ctx.get(), kMaxChunkBytes, kMaxChunkCache);
    spng_set_png_buffer(ctx.get(), data, size);
    spng_ihdr h{};
    if (const int e = spng_get_ihdr(ctx.get(), &h))
        return {{}, errorOf(e), {}};
    DecodeResult result;
    result.size = sizeOf(h);
    if (!pixelsWithinBudget(result.size.width(), result.size.height(), kQtBytesPerPixel))
        return {{}, DecodeError::TooLarge, result.size};
    const QColorSpace space = colourSpaceOf(ctx.get());
    const Plan plan = planFor(ctx.get(), h, space);
    if (plan.format == QImage::Format_Invalid)
        return {{}, DecodeError::Damaged, result.size};

    QImage image(result.size, plan.format);
    if (image.isNull())
        return {{}, DecodeError::OutOfMemory, result.size};
    populateForWriting(image.bits(), std::size_t(image.sizeInBytes()));
    if (!plan.colours.isEmpty())
        image.setColorTable(plan.colours);
    const int width = result.size.width(), height = result.size.height();
    uchar *const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // Packed indices of an interlaced picture: libspng puts each pass's
    // pixels in place only in a whole picture, so the indices are decoded
    // whole (half a byte a pixel at most), then unpacked row by row.
    if (h.interlace_method != 0 && plan.unpackIndices) {
        std::size_t bytes = 0;
        if (const int e = spng_decoded_image_size(ctx.get(), SPNG_FMT_PNG, &bytes))
            return {{}, errorOf(e), result.size};
        QByteArray packed(qsizetype(bytes), 0); // the passes are or-ed in
        if (const int e = spng_decode_image(ctx.get(), packed.data(), bytes, SPNG_FMT_PNG, 0))
            return {{}, errorOf(e), result.size};
        const std::size_t rowBytes = bytes / h.height;
        for (int y = 0; y < height; ++y) {
            std::uint8_t *row = bits + y * stride;
            std::memcpy(row, packed.constData() + y * rowBytes, rowBytes);
            unpackIndices(row, width, h.bit_depth);
        }
        return finished(ctx.get(), std::move(image), plan, space, result);
    }
    const bool rgba = plan.spngFormat == SPNG_FMT_RGBA8 || plan.spngFormat == SPNG_FMT_RGBA16;
    if (const int e = spng_decode_image(ctx.get(), nullptr, 0, plan.spngFormat, (rgba ? SPNG_DECODE_TRNS : 0) | SPNG_DECODE_PROGRESSIVE))
        return {{}, errorOf(e), result.size};
    std::size_t rowBytes = 0;
    if (const int e = spng_decoded_image_size(ctx.get(), plan.spngFormat, &rowBytes))
        return {{}, errorOf(e), result.size};
    rowBytes /= h.height;
    // Each row is made Qt's as it comes; an interlaced picture's rows come
    // several times, and are made Qt's at the end.
    const auto finishRow = [&](std::uint8_t *out) {
        if (plan.swapRedBlue)
            swapRedBlue(out, width);
        else if (plan.swapBytes)
            swapBytes(out, width);
        else if (plan.unpackIndices)
            unpackIndices(out, width, h.bit_depth); // in place: the row has a byte for each
    };
    const bool interlaced = h.interlace_method != 0;
    for (;;) {
        spng_row_info row{};
        if (const int e = spng_get_row_info(ctx.get(), &row); e == SPNG_EOI)
            break;
        else if (e)
            return {{}, errorOf(e), result.size};
        std::uint8_t *out = bits + qsizetype(row.row_num) * stride;
        const int e = spng_decode_row(ctx.get(), out, rowBytes);
        if (e != 0 && e != SPNG_EOI)
            return {{}, errorOf(e), result.size};
        if (!interlaced)
            finishRow(out);
        if (e == SPNG_EOI)
            break;
    }
    if (interlaced)
        for (int y = 0; y < height; ++y)
            finishRow(bits + y * stride);
    return finished(ctx.get(), std::move(image), plan, space, result);
}

} // namespace tovalin::detail
