#include "common/helpers.h"
#include "common/memorypolicy.h"
#include "imaging/decode/decode_internal.h"
#include "imaging/decode/fastmemory.h"
#include "imaging/decode/heif_api.h"
#include "imaging/decode/heif_boxes.h"


#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace tovalin::detail {

namespace {

// libheif holds the decoded planes (up to 3 bytes a pixel at 10 bits) and
// the interleaved picture made from them.
constexpr int kHeifBytesPerPixel = 6;

template <typename T>
using Owned = std::unique_ptr<T, void (*)(T *)>;

// The colour space an nclx box describes, for the primaries and curves
// phones write; unknown ones are taken as sRGB, as viewers do.
QColorSpace fromNclx(const heif_color_profile_nclx &nclx)
{
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    if (nclx.transfer_characteristics == heif_transfer_characteristic_linear)
        transfer = QColorSpace::TransferFunction::Linear;
    switch (nclx.color_primaries) {
    case heif_color_primaries_SMPTE_EG_432_1:
        return QColorSpace(QColorSpace::Primaries::DciP3D65, transfer);
    case heif_color_primaries_ITU_R_BT_2020_2_and_2100_0:
        return QColorSpace(QPointF(0.3127, 0.3290), QPointF(0.708, 0.292), QPointF(0.170, 0.797),
                           QPointF(0.131, 0.046), transfer);
    default:
        return transfer == QColorSpace::TransferFunction::SRgb ? QColorSpace() : QColorSpace(QColorSpace::Primaries::SRgb, transfer);
    }
}

QColorSpace profileOf(const HeifApi &heif, const heif_image_handle *handle)
{
    const heif_color_profile_type type = heif.heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        QByteArray icc(qsizetype(heif.heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
        if (heif.heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            return QColorSpace::fromIccProfile(icc);
        return {};
    }
    heif_color_profile_nclx *nclx = nullptr;
    if (heif.heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || !nclx)
        return {};
    const QColorSpace space = fromNclx(*nclx);
    heif.heif_nclx_color_profile_free(nclx);
    return space;
}

void blendRowOverWhite(const std::uint8_t *rgba, std::uint8_t *rgb, int width)
{
    for (int x = 0; x < width; ++x, rgba += 4, rgb += 3) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = static_cast<std::uint8_t>(overWhite(rgba[c], rgba[3]));
    }
}

void interleaveRow(const std::uint8_t *r, const std::uint8_t *g, const std::uint8_t *b, std::uint8_t *rgb, int width)
{
    for (int x = 0; x < width; ++x, rgb += 3) {
        rgb[0] = r[x];
        rgb[1] = g[x];
        rgb[2] = b[x];
    }
}

// The decoded picture's rows as RGB888, from the planes or rows libheif holds.
struct HeifRows {
    int width;
    bool planes; // three 8-bit planes; else interleaved RGB or RGBA rows
    bool alpha;
    const std::uint8_t *plane[3];
    int stride[3];

    void row(int y, std::uint8_t *out) const
    {
        const std::uint8_t *first = plane[0] + std::size_t(y) * stride[0];
        if (alpha)
            blendRowOverWhite(first, out, width);
        else if (planes)
            interleaveRow(first, plane[1] + std::size_t(y) * stride[1], plane[2] + std::size_t(y) * stride[2], out, width);
        else
            std::memcpy(out, first, std::size_t(width) * 3);
    }
};

// Output rows [begin, end) of `out` from a picture of `height` rows.
DecodeError resampleRows(const HeifRows &rows, int height, const RgbView &out, int begin, int end)
{
    try {
        RowResampler resampler(rows.width, height, out, begin, end);
        if (!resampler.ok())
            return DecodeError::OutOfMemory;
        RowsToResampler sink(resampler, rows.width);
        for (int y = resampler.firstRow(); y < resampler.endRow(); ++y) {
            rows.row(y, sink.row(y));
            sink.written(y);
        }
        sink.flush(resampler.endRow());
        return DecodeError::None;
    } catch (const std::bad_alloc &) { // on a helper too: a result, never an exception
        return DecodeError::OutOfMemory;
    }
}

// The picture resized to `to` straight from libheif's rows, the lower half
// of the output on a helper where a core is free.
QImage resampled(const HeifRows &rows, int height, QSize to)
{
    QImage image(to, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    const RgbView out{image.bits(), to.width(), to.height(), image.bytesPerLine()};
    const int split = std::max(1, to.height() / 2);
    DecodeError lower = DecodeError::None;
    std::optional<Helper> second;
    if (split < to.height())
        second.emplace([&] { lower = resampleRows(rows, height, out, split, to.height()); });
    const DecodeError upper = resampleRows(rows, height, out, 0, split);
    if (second)
        second->wait();
    return upper == DecodeError::None && lower == DecodeError::None ? image : QImage();
}

DecodeError errorOf(const heif_error &e)
{
    if (e.subcode == heif_suberror_Security_limit_exceeded)
        return DecodeError::TooLarge;
    if (e.code == heif_error_Memory_allocation_error)
        return DecodeError::OutOfMemory;
    if (e.code == heif_error_Unsupported_filetype || e.code == heif_error_Unsupported_feature)
        return DecodeError::UnknownFormat;
    if (e.code == heif_error_Invalid_input && e.subcode == heif_suberror_End_of_data)
        return DecodeError::Truncated;
    return DecodeError::Damaged;
}

} // namespace

QByteArray heifExif(const std::uint8_t *data, std::size_t size)
{
    const HeifApi *api = HeifApi::get();
    if (!api)
        return {};
    const HeifApi &heif = *api;
    const Owned<heif_context> ctx(heif.heif_context_alloc(), heif.heif_context_free);
    if (heif.heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr).code != heif_error_Ok)
        return {};
    heif_image_handle *rawHandle = nullptr;
    if (heif.heif_context_get_primary_image_handle(ctx.get(), &rawHandle).code != heif_error_Ok)
        return {};
    const Owned<const heif_image_handle> handle(rawHandle, heif.heif_image_handle_release);
    heif_item_id id = 0;
    if (heif.heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) != 1)
        return {};
    QByteArray block(qsizetype(heif.heif_image_handle_get_metadata_size(handle.get(), id)), Qt::Uninitialized);
    if (block.size() < 4 || heif.heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok)
        return {};
    // The block starts with the offset of the TIFF header after these 4 bytes.
    const quint32 offset = quint32(quint8(block[0])) << 24 | quint8(block[1]) << 16 | quint8(block[2]) << 8 | quint8(block[3]);
    if (offset > quint32(block.size() - 4))
        return {};
    return block.mid(4 + offset);
}

// An ISO base media file whose brands name a HEIF or AVIF picture.
bool looksLikeHeif(const std::uint8_t *data, std::size_t size)
{
    if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return false;
    const std::size_t box = std::min<std::size_t>(size, std::size_t(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3]);
    static const char *const brands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs",
                                         "mif1", "msf1", "avif", "avis"};
    for (std::size_t at = 8; at + 4 <= box; at += at == 8 ? 8 : 4) // major brand, then the compatible ones
        for (const char *brand : brands)
            if (std::memcmp(data + at, brand, 4) == 0)
                return true;
    return false;
}

DecodeResult decodeHeif(const std::uint8_t *data, std::size_t size, const SizeFor &resizeTo)
{
    const HeifApi *api = HeifApi::get();
    if (!api)
        return {{}, DecodeError::UnknownFormat, {}};
    const HeifApi &heif = *api;
    DecodeResult result;
    // The sizes the file declares (its ispe boxes) are not what libheif
    // decodes: it makes a grid's canvas from the grid's own description and
    // each picture at its coded size. Those are checked, before anything.
    const HeifSizes real = readHeifSizes(data, size);
    for (const QSize s : {real.output, real.largestCoded}) {
        if (s.isValid() && s.isEmpty())
            return {{}, DecodeError::NoPixels, s};
        if (s.isValid() && !pixelsWithinBudget(s.width(), s.height(), kHeifBytesPerPixel))
            return {{}, DecodeError::TooLarge, s};
    }
    const Owned<heif_context> ctx(heif.heif_context_alloc(), heif.heif_context_free);
    // libheif's own check of the declared sizes, at our budget's side.
    heif.heif_context_set_maximum_image_size_limit(ctx.get(), int(std::min<std::int64_t>(maxPixels(kHeifBytesPerPixel), INT32_MAX)));
    // libheif decodes a grid's tiles on threads of its own, and aborts where
    // none can be made. Where no helper can be had (no thread, or every core
    // busy with a batch's jobs) the tiles are decoded on this thread.
    if (!helperToBeHad())
        heif.heif_context_set_max_decoding_threads(ctx.get(), 0);
    heif_error e = heif.heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr);
    if (e.code != heif_error_Ok)
        return {{}, errorOf(e), real.output};
    heif_image_handle *rawHandle = nullptr;
    e = heif.heif_context_get_primary_image_handle(ctx.get(), &rawHandle);
    const Owned<const heif_image_handle> handle(rawHandle, heif.heif_image_handle_release);
    if (e.code != heif_error_Ok)
        return {{}, errorOf(e), {}};
    result.size = QSize(heif.heif_image_handle_get_width(handle.get()), heif.heif_image_handle_get_height(handle.get()));
    if (result.size.isEmpty()) {
        result.error = DecodeError::NoPixels;
        return result;
    }
    if (!pixelsWithinBudget(result.size.width(), result.size.height(), kHeifBytesPerPixel)) {
        result.error = DecodeError::TooLarge;
        return result;
    }
    const bool alpha = heif.heif_image_handle_has_alpha_channel(handle.get());
    const Owned<heif_decoding_options> options(heif.heif_decoding_options_alloc(), heif.heif_decoding_options_free);
    options->convert_hdr_to_8bit = 1;
    options->strict_decoding = 1;
    // An 8-bit picture without alpha is taken as libheif's three planes:
    // its own step that interleaves them is a byte loop into fresh small
    // pages, a sixth of a 12-megapixel HEIC's decoding. Others (alpha to
    // blend, 10 bits brought to 8) come interleaved.
    const bool planes = !alpha && heif.heif_image_handle_get_luma_bits_per_pixel(handle.get()) == 8
                        && heif.heif_image_handle_get_chroma_bits_per_pixel(handle.get()) == 8;
    // A coded 8-bit picture's planes come from our HEVC plugin as RGB,
    // converted as libheif would with the item's colours (or the stream's).
    std::optional<HevcAsRgb> asRgb;
    if (planes && real.coded) {
        heif_color_profile_nclx *itemNclx = nullptr;
        if (heif.heif_image_handle_get_nclx_color_profile(handle.get(), &itemNclx).code != heif_error_Ok)
            itemNclx = nullptr;
        const Owned<heif_color_profile_nclx> nclx(itemNclx, heif.heif_nclx_color_profile_free);
        asRgb.emplace(nclx.get()); // keeps its own copy
    }
    heif_image *rawImage = nullptr;
    e = heif.heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                               planes ? heif_chroma_444 : alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                               options.get());
    Owned<const heif_image> decoded(rawImage, heif.heif_image_release);
    if (e.code != heif_error_Ok) {
        result.error = errorOf(e);
        return result;
    }
    const heif_channel first = planes ? heif_channel_R : heif_channel_interleaved;
    const int width = heif.heif_image_get_width(decoded.get(), first);
    const int height = heif.heif_image_get_height(decoded.get(), first);
    int stride[3] = {};
    std::uint8_t *plane[3] = {};
    const heif_channel channels[3] = {heif_channel_R, heif_channel_G, heif_channel_B};
    for (int c = 0; c < (planes ? 3 : 1); ++c)
        plane[c] = heif.heif_image_get_plane(rawImage, planes ? channels[c] : first, &stride[c]);
    if (!plane[0] || (planes && (!plane[1] || !plane[2])) || width <= 0 || height <= 0) {
        result.error = DecodeError::Damaged;
        return result;
    }
    const HeifRows rows{width, planes, alpha, {plane[0], plane[1], plane[2]}, {stride[0], stride[1], stride[2]}};
    const QColorSpace colours = profileOf(heif, handle.get());
    const QSize to = resizeTo && !needsSrgbConversion(colours) ? resizeTo(QSize(width, height)) : QSize();
    if (resizedAtOnce(QSize(width, height), to)) {
        result.size = QSize(width, height);
        result.image = resampled(rows, height, to);
        result.error = result.image.isNull() ? DecodeError::OutOfMemory : DecodeError::None;
        result.resized = !result.image.isNull();
        return result;
    }
    QImage image;
    if (!planes && !alpha && stride[0] % 4 == 0 && reinterpret_cast<std::uintptr_t>(plane[0]) % 4 == 0) {
        // The picture is libheif's own buffer, released with the picture:
        // no second full-size copy (36 MB for a 12-megapixel phone photo).
        image = QImage(plane[0], width, height, stride[0],
                       QImage::Format_RGB888,
                       [](void *picture) { HeifApi::get()->heif_image_release(static_cast<heif_image *>(picture)); },
                       rawImage);
        if (!image.isNull())
            decoded.release();
    } else {
        image = QImage(width, height, QImage::Format_RGB888);
        if (!image.isNull())
            preferLargePages(image.bits(), std::size_t(image.sizeInBytes()));
        for (int y = 0; !image.isNull() && y < height; ++y)
            rows.row(y, image.scanLine(y));
    }
    if (image.isNull()) {
        result.error = DecodeError::OutOfMemory;
        return result;
    }
    convertToSrgb(image, colours);
    result.size = image.size();
    result.image = std::move(image);
    return result;
}

} // namespace tovalin::detail
