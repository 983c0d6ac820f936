#pragma once
#include <cstdint>
#include <optional>

// An 8-bit 4:2:0 HEVC picture turned into RGB planes as libheif's own
// conversion does it, float for float: the same pixels, without libheif's
// copy of the planes and its scalar loop (a sixth of a phone HEIC's
// decoding). The plugin uses it only where libheif would convert with
// these coefficients and nothing else.
namespace tovalin::detail {

struct YccToRgb {
    float rCr, gCb, gCr, bCb;
};

// libheif's coefficients for full-range BT.601 (nclx matrix 5 or 6, what
// phones and libheif's own encoder write), the case checked against
// libheif's converter; empty for any other, which libheif converts.
std::optional<YccToRgb> yccToRgbFor(int matrix, bool fullRange);

// One row: `cb` and `cr` are the chroma row of this row's pair, half as wide.
using YccRowToRgb = void (*)(const std::uint8_t *y, const std::uint8_t *cb, const std::uint8_t *cr, std::uint8_t *r,
                             std::uint8_t *g, std::uint8_t *b, int width, const YccToRgb &k);
void yccRowToRgbPortable(const std::uint8_t *y, const std::uint8_t *cb, const std::uint8_t *cr, std::uint8_t *r,
                         std::uint8_t *g, std::uint8_t *b, int width, const YccToRgb &k);
void yccRowToRgbAvx2(const std::uint8_t *y, const std::uint8_t *cb, const std::uint8_t *cr, std::uint8_t *r,
                     std::uint8_t *g, std::uint8_t *b, int width, const YccToRgb &k);
// The AVX2 kernel where it may be used.
YccRowToRgb yccRowToRgb();

} // namespace tovalin::detail
