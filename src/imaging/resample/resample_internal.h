#pragma once
#include <cstdint>
#include <vector>

namespace tovalin::detail {

constexpr int kPrecisionBits = 32 - 8 - 2;

// Per-axis table: for output position i the first source index, the number
// of taps and `ksize` normalised fixed-point weights.
struct AxisCoefficients {
    int ksize = 0;
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::int32_t> weights; // out * ksize
};

AxisCoefficients precomputeCoefficients(int inSize, int outSize);

// The same weights split as w = high * 2^15 + low (0 <= low < 2^15), both
// fitting 16 bits, so 16-bit multiply-adds reproduce the 32-bit sums exactly.
constexpr int kSplitBits = 15;
inline std::int16_t weightHigh(std::int32_t w) { return static_cast<std::int16_t>(w >> kSplitBits); }
inline std::int16_t weightLow(std::int32_t w) { return static_cast<std::int16_t>(w & ((1 << kSplitBits) - 1)); }

inline std::uint8_t clip8(int v)
{
    if (v >= (1 << kPrecisionBits << 8))
        return 255;
    if (v <= 0)
        return 0;
    return static_cast<std::uint8_t>(v >> kPrecisionBits);
}

// Horizontal weights laid out for the AVX2 kernel: every output pixel reads
// `groups` runs of four source pixels from `start`, the window moved inside
// the row at the edges and the unused taps given weight 0. Each run holds the
// low then the high halves, each as 16 lanes: pixels 0,1 for R, G, B, pad,
// then pixels 2,3 likewise. The first `wideLoads` output pixels may read 16
// bytes for each run: their last run ends at least 4 bytes before the row.
struct SplitHorizontalTable {
    int groups = 0;
    int wideLoads = 0;
    std::vector<int> start;
    std::vector<std::int16_t> lanes; // out * groups * 32
};

// Empty (groups == 0) when the row is narrower than the widened window.
SplitHorizontalTable splitHorizontal(const AxisCoefficients &c, int inSize);

// One output row of each pass. The horizontal pass turns a source row into
// a row of the output width; the vertical pass weighs `n` such rows, given
// by pointer, into one output row of `bytes` bytes.
using HorizontalRow = void (*)(const std::uint8_t *in, std::uint8_t *out, int outWidth,
                               const AxisCoefficients &c, const SplitHorizontalTable &split);
using VerticalRow = void (*)(const std::uint8_t *const *rows, int n, const std::int32_t *k,
                             std::uint8_t *out, int bytes);

void horizontalRowPortable(const std::uint8_t *in, std::uint8_t *out, int outWidth,
                           const AxisCoefficients &c, const SplitHorizontalTable &split);
void verticalRowPortable(const std::uint8_t *const *rows, int n, const std::int32_t *k,
                         std::uint8_t *out, int bytes);
void horizontalRowAvx2(const std::uint8_t *in, std::uint8_t *out, int outWidth,
                       const AxisCoefficients &c, const SplitHorizontalTable &split);
// Two source rows at once with the same weights (AVX2 only).
using HorizontalRowPair = void (*)(const std::uint8_t *in0, const std::uint8_t *in1, std::uint8_t *out0, std::uint8_t *out1,
                                   int outWidth, const SplitHorizontalTable &split);
void horizontalRowPairAvx2(const std::uint8_t *in0, const std::uint8_t *in1, std::uint8_t *out0, std::uint8_t *out1,
                           int outWidth, const SplitHorizontalTable &split);
void verticalRowAvx2(const std::uint8_t *const *rows, int n, const std::int32_t *k,
                     std::uint8_t *out, int bytes);

} // namespace tovalin::detail
