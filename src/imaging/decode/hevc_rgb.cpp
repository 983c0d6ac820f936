#include "imaging/decode/hevc_rgb.h"

#include "common/cpufeatures.h"

namespace tovalin::detail {

namespace {

std::uint8_t clipped(float value)
{
    const long x = long(value + 0.5f); // libheif's rounding: a half added, then truncated
    return std::uint8_t(x < 0 ? 0 : x > 255 ? 255 : x);
}

} // namespace

std::optional<YccToRgb> yccToRgbFor(int matrix, bool fullRange)
{
    if (!fullRange || (matrix != 5 && matrix != 6))
        return std::nullopt;
    // In float, in libheif's order of operations.
    const float kr = 0.299f, kb = 0.114f;
    return YccToRgb{2 * (-kr + 1), 2 * kb * (-kb + 1) / (kb + kr - 1), 2 * kr * (-kr + 1) / (kb + kr - 1), 2 * (-kb + 1)};
}

void yccRowToRgbPortable(const std::uint8_t *y, const std::uint8_t *cb, const std::uint8_t *cr, std::uint8_t *r,
                         std::uint8_t *g, std::uint8_t *b, int width, const YccToRgb &k)
{
    for (int x = 0; x < width; ++x) {
        const float luma = float(y[x]);
        const float u = float(cb[x >> 1] - 128);
        const float v = float(cr[x >> 1] - 128);
        r[x] = clipped(luma + k.rCr * v);
        g[x] = clipped(luma + k.gCb * u + k.gCr * v);
        b[x] = clipped(luma + k.bCb * u);
    }
}

YccRowToRgb yccRowToRgb() { return useAvx2() ? yccRowToRgbAvx2 : yccRowToRgbPortable; }

} // namespace tovalin::detail
