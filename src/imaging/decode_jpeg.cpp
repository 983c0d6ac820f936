#include "common/fastmemory.h"
#include "common/memorypolicy.h"
#include "imaging/decode_internal.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

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

// What the picture is, from its header and the markers before its data.
struct Header {
    DecodeError error = DecodeError::None;
    QSize size;
    bool cmyk = false;
    bool progressive = false;
    int orientation = 1;
    QByteArray icc;
};

Header readHeader(const std::uint8_t *data, std::size_t size)
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    Header h;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        // Data that ran out before the error is a file cut short.
        h.error = err.warning == DecodeError::Truncated ? DecodeError::Truncated : DecodeError::Damaged;
    } else {
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
        if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
            h.error = DecodeError::Truncated;
        } else {
            h.size = QSize(int(cinfo.image_width), int(cinfo.image_height));
            h.cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
            h.progressive = jpeg_has_multiple_scans(&cinfo);
            h.orientation = orientationOf(cinfo);
            JOCTET *icc = nullptr;
            unsigned int iccSize = 0;
            if (!h.cmyk && jpeg_read_icc_profile(&cinfo, &icc, &iccSize)) {
                h.icc = QByteArray(reinterpret_cast<const char *>(icc), int(iccSize));
                std::free(icc);
            }
        }
    }
    jpeg_destroy_decompress(&cinfo);
    return h;
}

// Decodes rows [first, end) into the picture; the part that reaches the
// last row also reads to the end marker, where a file cut short shows.
DecodeError decodeRows(const std::uint8_t *data, std::size_t size, bool cmyk, QImage &image, int first, int end)
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    DecodeError result = DecodeError::None;
    // Set after setjmp and freed after a longjmp: kept in memory.
    std::uint8_t *volatile cmykRow = nullptr;

    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        result = err.warning == DecodeError::Truncated ? DecodeError::Truncated : DecodeError::Damaged;
        goto cleanup;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cmyk) {
        cmykRow = static_cast<std::uint8_t *>(std::malloc(std::size_t(cinfo.output_width) * 4));
        if (!cmykRow) {
            result = DecodeError::OutOfMemory;
            goto cleanup;
        }
    }
    while (int(cinfo.output_scanline) < first && err.warning == DecodeError::None)
        jpeg_skip_scanlines(&cinfo, JDIMENSION(first) - cinfo.output_scanline);
    while (int(cinfo.output_scanline) < end && err.warning == DecodeError::None) {
        std::uint8_t *line = image.scanLine(int(cinfo.output_scanline));
        JSAMPROW row = cmyk ? static_cast<std::uint8_t *>(cmykRow) : line;
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (cmyk)
            cmykRowToRgb(cmykRow, line, image.width());
    }
    if (err.warning == DecodeError::None && end == image.height())
        jpeg_finish_decompress(&cinfo); // reads up to the end marker, not past it
    result = err.warning;

cleanup:
    jpeg_destroy_decompress(&cinfo);
    std::free(cmykRow);
    return result;
}

} // namespace

DecodeResult decodeJpeg(const std::uint8_t *data, std::size_t size, int parts)
{
    const Header h = readHeader(data, size);
    DecodeResult result{{}, h.error, h.size};
    if (h.error != DecodeError::None)
        return result;
    if (!pixelsWithinBudget(h.size.width(), h.size.height())) {
        result.error = DecodeError::TooLarge;
        return result;
    }
    QImage image(h.size, QImage::Format_RGB888);
    if (image.isNull()) {
        result.error = DecodeError::OutOfMemory;
        return result;
    }
    preferLargePages(image.bits(), std::size_t(image.sizeInBytes()));
    // A baseline picture's lower half decodes on the second core: it skips
    // the upper rows (Huffman decoding only) and reads to the end marker, so
    // it also sees any damage anywhere in the file. A 24-megapixel photo
    // decodes about a fifth faster. Not for progressive files: each part
    // would hold all the picture's coefficients and decode every scan.
    const bool split2 = parts > 1 && !h.progressive && h.size.height() >= 256;
    const int split = split2 ? h.size.height() / 2 / 16 * 16 : h.size.height();
    DecodeError lower = DecodeError::None;
    std::thread second;
    if (split < h.size.height())
        second = std::thread([&] { lower = decodeRows(data, size, h.cmyk, image, split, h.size.height()); });
    else if (parts > 1 && h.progressive)
        // While every scan is read (most of the time), the second core maps
        // the picture's memory in. The whole 13-megapixel progressive job
        // took 160 against 185 ms here (medians, with other programs using
        // memory between runs), without the occasional 0.1 s stall.
        second = std::thread([&] { populateForWriting(image.bits(), std::size_t(image.sizeInBytes())); });
    const DecodeError upper = decodeRows(data, size, h.cmyk, image, 0, split);
    if (second.joinable())
        second.join();
    result.error = lower == DecodeError::Truncated ? lower : upper != DecodeError::None ? upper : lower;
    if (result.error != DecodeError::None)
        return result;
    if (!h.icc.isEmpty())
        convertToSrgb(image, QColorSpace::fromIccProfile(h.icc));
    result.image = applyOrientation(image, h.orientation);
    if (result.image.isNull())
        result.error = DecodeError::OutOfMemory;
    return result;
}

} // namespace tovalin::detail
