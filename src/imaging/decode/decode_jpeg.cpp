#include "common/helpers.h"
#include "common/memorypolicy.h"
#include "imaging/decode/decode_internal.h"
#include "imaging/decode/fastmemory.h"
#include "imaging/decode/memoryahead.h"
#include "imaging/jpeg/jpegerror.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// jpeglib.h first: its configuration decides which messages jerror.h has.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace tovalin::detail {

namespace {

struct DecodeErrors : JpegErrors {
    DecodeError warning = DecodeError::None; // the first serious warning
    bool inData = false; // past the header: the picture's data is being read
};

// More stray bytes before the end marker than any camera's padding: the
// decoder lost its place in the data and read less than was there.
constexpr long kMostPaddingBeforeEnd = 16;

// What a warning tells of the picture: libjpeg only warns when data runs
// out or is corrupt and fills in the rest itself, and such pictures are
// refused. Oddities before the first scan (an unusual marker, stray bytes
// between markers) and a little padding before the end marker leave the
// picture whole, as cameras and phones write them.
DecodeError judge(const jpeg_error_mgr &err, bool inData)
{
    switch (err.msg_code) {
    case JWRN_JPEG_EOF:
        return DecodeError::Truncated;
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        return DecodeError::Damaged;
    case JWRN_EXTRANEOUS_DATA: {
        if (!inData)
            return DecodeError::None;
        const int marker = err.msg_parm.i[1];
        if (marker == JPEG_EOI)
            return err.msg_parm.i[0] > kMostPaddingBeforeEnd ? DecodeError::Damaged : DecodeError::None;
        return DecodeError::Damaged; // before a restart marker or a later scan
    }
    default:
        return DecodeError::None;
    }
}

// A serious warning inside the picture's data stops the decoding at once:
// nothing more is read or touched for a picture that will be refused.
void onWarning(JpegErrors &errors)
{
    auto &err = static_cast<DecodeErrors &>(errors);
    const DecodeError seen = judge(err.pub, err.inData);
    if (seen == DecodeError::None || err.warning != DecodeError::None)
        return;
    err.warning = seen;
    if (err.inData)
        std::longjmp(err.jump, 1);
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
    // Huffman-coded data holds at least a bit for every 8x8 block of every
    // component (its DC code); a file shorter than that lies about its size.
    std::uint64_t leastBytes = 0;
};

// Walks the segments and the scans' data up to the end marker; false when
// the file ends first. Stray bytes between segments are passed over, as
// libjpeg does.
bool reachesEndMarker(const std::uint8_t *p, std::size_t size)
{
    std::size_t at = 2; // after the start marker
    while (at + 1 < size) {
        if (p[at] != 0xFF || p[at + 1] == 0xFF) {
            ++at;
            continue;
        }
        const std::uint8_t marker = p[at + 1];
        at += 2;
        if (marker == 0xD9)
            return true;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length follows
        if (at + 2 > size)
            return false;
        at += std::size_t(p[at]) << 8 | p[at + 1];
        if (marker != 0xDA)
            continue;
        // The scan's data runs to the next marker that is not a restart
        // marker or a stuffed zero.
        while (at + 1 < size) {
            const auto *ff = static_cast<const std::uint8_t *>(std::memchr(p + at, 0xFF, size - at - 1));
            if (!ff)
                return false;
            at = std::size_t(ff - p);
            const std::uint8_t next = p[at + 1];
            if (next == 0xFF)
                ++at;
            else if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                at += 2;
            else
                break;
        }
    }
    return false;
}

Header readHeader(const std::uint8_t *data, std::size_t size)
{
    jpeg_decompress_struct cinfo{};
    DecodeErrors err;
    Header h;
    cinfo.err = useJpegErrors(err);
    err.warned = onWarning;
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
            if (!cinfo.arith_code)
                for (int c = 0; c < cinfo.num_components; ++c)
                    h.leastBytes += std::uint64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks / 8;
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

// The picture's rows as raw memory, for threads that write parts of it
// (a QImage shared between threads may detach under them).
struct Rows {
    std::uint8_t *bits;
    qsizetype stride;
    std::uint8_t *row(int y) const { return bits + y * stride; }
    void written(int) const {}
};

// Decodes rows [first, end) into the sink; with `toEnd` it also reads to
// the end marker, where a file cut short shows.
template <typename Sink>
DecodeError decodeRows(const std::uint8_t *data, std::size_t size, bool cmyk, Sink &sink, int first, int end, bool toEnd,
                       MemoryAhead *ahead = nullptr)
{
    jpeg_decompress_struct cinfo{};
    DecodeErrors err;
    DecodeError result = DecodeError::None;
    // Set after setjmp and freed after a longjmp: kept in memory.
    std::uint8_t *volatile cmykRow = nullptr;

    cinfo.err = useJpegErrors(err);
    err.warned = onWarning;
    if (setjmp(err.jump)) {
        result = err.warning == DecodeError::Truncated ? DecodeError::Truncated : DecodeError::Damaged;
        goto cleanup;
    }
    jpeg_create_decompress(&cinfo);
    if (ahead)
        ahead->attach(cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    err.inData = true;
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
        const int y = int(cinfo.output_scanline);
        std::uint8_t *line = sink.row(y);
        JSAMPROW row = cmyk ? static_cast<std::uint8_t *>(cmykRow) : line;
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (cmyk)
            cmykRowToRgb(cmykRow, line, int(cinfo.output_width));
        sink.written(y);
    }
    if (err.warning == DecodeError::None && toEnd)
        jpeg_finish_decompress(&cinfo); // reads up to the end marker, not past it
    result = err.warning;

cleanup:
    if (ahead)
        ahead->join();
    jpeg_destroy_decompress(&cinfo);
    std::free(cmykRow);
    return result;
}

// Refused before anything of the picture's size is made: a picture over the
// memory budget, a file too short for its header's size, and a progressive
// file whose scans end early (its coefficient arrays would be zeroed and
// mapped in whole).
DecodeError refusedUpFront(const Header &h, const std::uint8_t *data, std::size_t size)
{
    if (h.error != DecodeError::None)
        return h.error;
    if (!pixelsWithinBudget(h.size.width(), h.size.height()))
        return DecodeError::TooLarge;
    if (size < h.leastBytes || (h.progressive && !reachesEndMarker(data, size)))
        return DecodeError::Truncated;
    return DecodeError::None;
}

// Whether the rows of a picture of `height` are shared with a second core.
// A baseline picture's lower part decodes there: it skips the upper rows
// (Huffman decoding only) and reads to the end marker, so it also sees any
// damage anywhere in the file. A 24-megapixel photo decodes about a fifth
// faster. Skipping costs half or more of decoding in photos of phone
// quality, so the first core takes about 16/25 of the rows: the parts then
// end together (at half and half the lower part took 1.3 to 1.6 times as
// long here). Not for progressive files: each part would hold all the
// picture's coefficients and decode every scan. Only with a core to spare:
// one after the other, the two parts take longer than one whole decoding.
bool splitInTwo(const Header &h, int parts)
{
    return parts > 1 && !h.progressive && h.size.height() >= 256 && freeCores() > 0;
}

// The first core's share of `rows`.
int upperShare(int rows) { return rows * 16 / 25; }

// The parts' verdicts as one: a file cut short shows only in the lower part.
DecodeError joined(DecodeError upper, DecodeError lower)
{
    return lower == DecodeError::Truncated ? lower : upper != DecodeError::None ? upper : lower;
}

} // namespace

QSize jpegClaimedSize(const std::uint8_t *data, std::size_t size)
{
    const Header h = readHeader(data, size);
    return h.error == DecodeError::None ? h.size : QSize();
}

DecodeResult decodeJpeg(const std::uint8_t *data, std::size_t size, int parts)
{
    const Header h = readHeader(data, size);
    DecodeResult result{{}, refusedUpFront(h, data, size), h.size};
    if (result.error != DecodeError::None)
        return result;
    QImage image(h.size, QImage::Format_RGB888);
    if (image.isNull()) {
        result.error = DecodeError::OutOfMemory;
        return result;
    }
    preferLargePages(image.bits(), std::size_t(image.sizeInBytes()));
    const int height = h.size.height();
    const int split = splitInTwo(h, parts) ? upperShare(height) / 16 * 16 : height;
    Rows rows{image.bits(), image.bytesPerLine()};
    DecodeError lower = DecodeError::None;
    std::unique_ptr<Helper> second;
    if (split < height)
        second = std::make_unique<Helper>([&] { lower = decodeRows(data, size, h.cmyk, rows, split, height, true); });
    // The whole 13-megapixel progressive job took 160 against 185 ms here
    // with the picture's rows mapped ahead, and about a further 20 ms less
    // with the coefficient arrays too (medians, other programs using memory
    // between runs), without the occasional 0.1 s stall of large pages.
    MemoryAhead ahead(image.bits(), std::size_t(image.sizeInBytes()));
    const bool mapAhead = parts > 1 && h.progressive;
    const DecodeError upper = decodeRows(data, size, h.cmyk, rows, 0, split, split == height, mapAhead ? &ahead : nullptr);
    if (second)
        second->wait();
    result.error = joined(upper, lower);
    if (result.error != DecodeError::None)
        return result;
    if (!h.icc.isEmpty())
        convertToSrgb(image, QColorSpace::fromIccProfile(h.icc));
    result.image = applyOrientation(image, h.orientation);
    if (result.image.isNull())
        result.error = DecodeError::OutOfMemory;
    return result;
}

std::optional<DecodeResult> decodeJpegResized(const std::uint8_t *data, std::size_t size, const SizeFor &sizeFor, int parts)
{
    const Header h = readHeader(data, size);
    // Only a picture seen as stored and already in sRGB: a turn or a colour
    // conversion would come before the resampling.
    if (h.error != DecodeError::None || h.cmyk || h.orientation != 1
        || (!h.icc.isEmpty() && needsSrgbConversion(QColorSpace::fromIccProfile(h.icc))))
        return std::nullopt;
    const QSize to = sizeFor(h.size);
    if (!resizedAtOnce(h.size, to))
        return std::nullopt;
    DecodeResult result{{}, refusedUpFront(h, data, size), h.size};
    if (result.error != DecodeError::None)
        return result;
    QImage image(to, QImage::Format_RGB888);
    if (image.isNull()) {
        result.error = DecodeError::OutOfMemory;
        return result;
    }
    const RgbView out{image.bits(), to.width(), to.height(), image.bytesPerLine()};
    const int height = h.size.height();
    // The output rows are shared as the source rows are for a whole picture.
    const int split = splitInTwo(h, parts) && to.height() > 1 ? upperShare(to.height()) : to.height();
    // Runs on a helper too: what it cannot have is a result, never an exception.
    const auto part = [&](int begin, int end, MemoryAhead *ahead) {
        try {
            RowResampler resampler(h.size.width(), height, out, begin, end);
            if (!resampler.ok())
                return DecodeError::OutOfMemory;
            RowsToResampler sink(resampler, h.size.width());
            const bool last = end == to.height();
            const DecodeError e = decodeRows(data, size, false, sink, resampler.firstRow(), last ? height : resampler.endRow(), last, ahead);
            if (e == DecodeError::None)
                sink.flush(last ? height : resampler.endRow());
            return e;
        } catch (const std::bad_alloc &) {
            return DecodeError::OutOfMemory;
        }
    };
    DecodeError lower = DecodeError::None;
    std::unique_ptr<Helper> second;
    if (split < to.height())
        second = std::make_unique<Helper>([&] { lower = part(split, to.height(), nullptr); });
    MemoryAhead ahead(image.bits(), std::size_t(image.sizeInBytes()));
    const bool mapAhead = parts > 1 && h.progressive;
    const DecodeError upper = part(0, split, mapAhead ? &ahead : nullptr);
    if (second)
        second->wait();
    result.error = joined(upper, lower);
    if (result.error == DecodeError::None) {
        result.image = image;
        result.resized = true;
    }
    return result;
}

} // namespace tovalin::detail
