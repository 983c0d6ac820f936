#include "common/fastmemory.h"
#include "common/memorypolicy.h"
#include "imaging/decode_internal.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace tovalin::detail {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    DecodeError warning = DecodeError::None; // the first serious warning
};

void onError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// libjpeg only warns when data runs out or is corrupt, and fills in the
// rest itself; those pictures are refused. Other warnings (an unusual
// marker, extra bytes before the end marker) leave the picture whole.
void onMessage(j_common_ptr cinfo, int level)
{
    if (level != -1)
        return;
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (err->warning != DecodeError::None)
        return;
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
        err->warning = DecodeError::Truncated;
        break;
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        err->warning = DecodeError::Damaged;
        break;
    default:
        break;
    }
}

int orientationOf(const jpeg_decompress_struct &cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return exifOrientation(m->data + 6, m->data_length - 6);
    }
    return 1;
}

// Adobe's CMYK JPEGs store inverted inks: the colour is ink times black.
void cmykRowToRgb(const std::uint8_t *cmyk, std::uint8_t *rgb, int width)
{
    for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const int k = cmyk[3];
        rgb[0] = static_cast<std::uint8_t>(cmyk[0] * k / 255);
        rgb[1] = static_cast<std::uint8_t>(cmyk[1] * k / 255);
        rgb[2] = static_cast<std::uint8_t>(cmyk[2] * k / 255);
    }
}

} // namespace

DecodeResult decodeJpeg(const std::uint8_t *data, std::size_t size)
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    DecodeResult result;
    QImage image;
    // Set after setjmp and freed after a longjmp: kept in memory.
    std::uint8_t *volatile cmykRow = nullptr;
    JOCTET *volatile icc = nullptr;
    unsigned int iccSize = 0;

    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        // Data that ran out before the error is a file cut short.
        result = {{}, err.warning == DecodeError::Truncated ? DecodeError::Truncated : DecodeError::Damaged, result.size};
        goto cleanup;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        result.error = DecodeError::Truncated;
        goto cleanup;
    }
    result.size = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
    if (!pixelsWithinBudget(cinfo.image_width, cinfo.image_height)) {
        result.error = DecodeError::TooLarge;
        goto cleanup;
    }
    {
        const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
        image = QImage(result.size, QImage::Format_RGB888);
        if (image.isNull()) {
            result.error = DecodeError::OutOfMemory;
            goto cleanup;
        }
        preferLargePages(image.bits(), std::size_t(image.sizeInBytes()));
        // Saved markers go with the picture's memory at the end: read them first.
        const int orientation = orientationOf(cinfo);
        JOCTET *iccData = nullptr;
        if (!cmyk && jpeg_read_icc_profile(&cinfo, &iccData, &iccSize))
            icc = iccData;
        jpeg_start_decompress(&cinfo);
        if (cmyk) {
            cmykRow = static_cast<std::uint8_t *>(std::malloc(std::size_t(cinfo.output_width) * 4));
            if (!cmykRow) {
                result.error = DecodeError::OutOfMemory;
                goto cleanup;
            }
        }
        while (cinfo.output_scanline < cinfo.output_height && err.warning == DecodeError::None) {
            std::uint8_t *line = image.scanLine(static_cast<int>(cinfo.output_scanline));
            JSAMPROW row = cmyk ? static_cast<std::uint8_t *>(cmykRow) : line;
            jpeg_read_scanlines(&cinfo, &row, 1);
            if (cmyk)
                cmykRowToRgb(cmykRow, line, image.width());
        }
        if (err.warning == DecodeError::None)
            jpeg_finish_decompress(&cinfo); // reads up to the end marker, not past it
        if (err.warning != DecodeError::None) {
            result.error = err.warning;
            goto cleanup;
        }
        if (icc)
            convertToSrgb(image, QColorSpace::fromIccProfile(QByteArray::fromRawData(reinterpret_cast<const char *>(icc), int(iccSize))));
        result.image = applyOrientation(image, orientation);
        if (result.image.isNull())
            result.error = DecodeError::OutOfMemory;
    }

cleanup:
    jpeg_destroy_decompress(&cinfo);
    std::free(cmykRow);
    std::free(icc);
    return result;
}

} // namespace tovalin::detail
