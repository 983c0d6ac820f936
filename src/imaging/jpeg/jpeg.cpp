#include "imaging/jpeg/jpeg.h"

#include "imaging/jpeg/jpegerror.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace tovalin {

namespace {

// Factors 2..30 climb evenly from scale 0 to 30 (about libjpeg quality 85);
// from there the scale grows geometrically up to 2545, where the coarsest
// baseline table (every step 255) is first reached, and 255 takes the scaling
// of quality 1, which gives that same table. Every step up raises the scale,
// so neighbouring factors get different tables wherever libjpeg has one.
constexpr int kDefaultFactor = 30;
constexpr int kDefaultScale = 30;
constexpr int kSaturatedScale = 2545;
constexpr int kQualityOneScale = 5000;

std::array<int, 256> buildScaleTable()
{
    std::array<int, 256> t{};
    t[kBestFactor] = 0;
    for (int f = kBestFactor + 1; f <= kDefaultFactor; ++f)
        t[f] = std::max(t[f - 1] + 1, static_cast<int>(std::lround(2.0 + (kDefaultScale - 2.0) * (f - 3) / (kDefaultFactor - 3))));
    const double growth = std::log(static_cast<double>(kSaturatedScale) / kDefaultScale) / (kStrongestFactor - 1 - kDefaultFactor);
    for (int f = kDefaultFactor + 1; f < kStrongestFactor; ++f)
        t[f] = std::max(t[f - 1] + 1, static_cast<int>(std::lround(kDefaultScale * std::exp(growth * (f - kDefaultFactor)))));
    t[kStrongestFactor] = kQualityOneScale;
    return t;
}

} // namespace

static_assert(kMaxJpegSide == JPEG_MAX_DIMENSION);

int quantScaleForFactor(int factor)
{
    static const std::array<int, 256> table = buildScaleTable();
    return table[std::clamp(factor, kBestFactor, kStrongestFactor)];
}

EncodeError encodable(const QImage &rgb888)
{
    if (rgb888.isNull() || rgb888.format() != QImage::Format_RGB888)
        return EncodeError::NoImage;
    if (rgb888.width() > kMaxJpegSide || rgb888.height() > kMaxJpegSide)
        return EncodeError::TooLargeForJpeg;
    return EncodeError::None;
}

EncodeResult encodeJpeg(const QImage &rgb888, int factor)
{
    if (const EncodeError refused = encodable(rgb888); refused != EncodeError::None)
        return {{}, refused};

    // Room for the image uncompressed (capped): libjpeg then almost never has
    // to grow and copy its buffer, and the pages it does not write are never
    // touched. It allocates a larger one itself only when this is full.
    constexpr qsizetype kMaxRoom = 64 << 20;
    const qsizetype room = std::min<qsizetype>(qsizetype(rgb888.width()) * rgb888.height() * 3 + 65536, kMaxRoom);
    QByteArray out(room, Qt::Uninitialized);
    unsigned char *const ours = reinterpret_cast<unsigned char *>(out.data());
    unsigned char *buffer = ours;
    unsigned long size = static_cast<unsigned long>(room);
    jpeg_compress_struct cinfo{};
    JpegErrors err;
    EncodeResult result;

    cinfo.err = useJpegErrors(err);
    if (setjmp(err.jump)) {
        result.error = EncodeError::EncoderFailed;
        goto cleanup;
    }

    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(rgb888.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb888.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo); // YCbCr JFIF, luma sampled 2x2: 4:2:0
    jpeg_set_linear_quality(&cinfo, quantScaleForFactor(factor), TRUE);
    cinfo.optimize_coding = TRUE;
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb888.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    if (buffer == ours) {
        out.resize(static_cast<qsizetype>(size));
        out.squeeze();
        result.bytes = std::move(out);
    } else {
        result.bytes = QByteArray(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(size));
    }

cleanup:
    jpeg_destroy_compress(&cinfo);
    if (buffer != ours)
        std::free(buffer);
    return result;
}

} // namespace tovalin
