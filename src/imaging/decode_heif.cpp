#include "common/memorypolicy.h"
#include "imaging/decode_internal.h"

#include <libheif/heif.h>

#include <memory>
#include <vector>

namespace tovalin::detail {

namespace {

template <typename T, void (*Release)(T *)>
struct Releaser {
    void operator()(T *p) const { Release(p); }
};
using Context = std::unique_ptr<heif_context, Releaser<heif_context, heif_context_free>>;
using Handle = std::unique_ptr<const heif_image_handle, Releaser<const heif_image_handle, heif_image_handle_release>>;
using Image = std::unique_ptr<const heif_image, Releaser<const heif_image, heif_image_release>>;
using Options = std::unique_ptr<heif_decoding_options, Releaser<heif_decoding_options, heif_decoding_options_free>>;

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

QColorSpace profileOf(const heif_image_handle *handle)
{
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            return QColorSpace::fromIccProfile(icc);
        return {};
    }
    heif_color_profile_nclx *nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || !nclx)
        return {};
    const QColorSpace space = fromNclx(*nclx);
    heif_nclx_color_profile_free(nclx);
    return space;
}

void blendRowOverWhite(const std::uint8_t *rgba, std::uint8_t *rgb, int width)
{
    for (int x = 0; x < width; ++x, rgba += 4, rgb += 3) {
        const int a = rgba[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = static_cast<std::uint8_t>((rgba[c] * a + 255 * (255 - a) + 127) / 255);
    }
}

DecodeError errorOf(const heif_error &e)
{
    if (e.code == heif_error_Memory_allocation_error)
        return DecodeError::OutOfMemory;
    if (e.code == heif_error_Unsupported_filetype || e.code == heif_error_Unsupported_feature)
        return DecodeError::UnknownFormat;
    if (e.code == heif_error_Invalid_input && e.subcode == heif_suberror_End_of_data)
        return DecodeError::Truncated;
    return DecodeError::Damaged;
}

} // namespace

bool looksLikeHeif(const std::uint8_t *data, std::size_t size)
{
    if (size < 12)
        return false;
    const heif_filetype_result type = heif_check_filetype(data, static_cast<int>(std::min<std::size_t>(size, 64)));
    return type == heif_filetype_yes_supported || type == heif_filetype_yes_unsupported;
}

DecodeResult decodeHeif(const std::uint8_t *data, std::size_t size)
{
    DecodeResult result;
    Context ctx(heif_context_alloc());
    heif_error e = heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr);
    if (e.code != heif_error_Ok)
        return {{}, errorOf(e), {}};
    heif_image_handle *rawHandle = nullptr;
    e = heif_context_get_primary_image_handle(ctx.get(), &rawHandle);
    const Handle handle(rawHandle);
    if (e.code != heif_error_Ok)
        return {{}, errorOf(e), {}};
    result.size = QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    if (!pixelsWithinBudget(result.size.width(), result.size.height())) {
        result.error = DecodeError::TooLarge;
        return result;
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    const Options options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    options->strict_decoding = 1;
    heif_image *rawImage = nullptr;
    e = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const Image decoded(rawImage);
    if (e.code != heif_error_Ok) {
        result.error = errorOf(e);
        return result;
    }
    int stride = 0;
    const std::uint8_t *plane = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(decoded.get(), heif_channel_interleaved);
    if (!plane || width <= 0 || height <= 0) {
        result.error = DecodeError::Damaged;
        return result;
    }
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull()) {
        result.error = DecodeError::OutOfMemory;
        return result;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = plane + std::size_t(y) * stride;
        if (alpha)
            blendRowOverWhite(row, image.scanLine(y), width);
        else
            std::memcpy(image.scanLine(y), row, std::size_t(width) * 3);
    }
    convertToSrgb(image, profileOf(handle.get()));
    result.size = image.size();
    result.image = std::move(image);
    return result;
}

} // namespace tovalin::detail
