#pragma once
#include <array>
#include <cstdint>

// The trial encoder's arithmetic kernels, each bit for bit libjpeg's, in a
// portable and an AVX2 form chosen once by the processor switch.
namespace tovalin::detail {

constexpr int kBlock = 64;
constexpr int kBlocksPerMcu = 6;

// Zigzag position -> natural (row-major) position.
constexpr std::array<int, kBlock> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// For each coefficient (zigzag order): (|c| + correction) * reciprocal >> shift,
// the sign put back; shift = 16 + log2 of the divisor, so the second step is
// a multiply by 2^(32 - shift) keeping the high half, as libjpeg-turbo's
// SIMD quantiser does.
struct Quantizer {
    alignas(32) std::array<std::uint16_t, kBlock> reciprocal;
    alignas(32) std::array<std::uint16_t, kBlock> correction;
    alignas(32) std::array<std::uint16_t, kBlock> scale;
    // A coefficient whose magnitude is under this (in the DCT's own units)
    // becomes zero whatever it rounds to: the dead zone. 0: plain rounding.
    alignas(32) std::array<std::uint16_t, kBlock> zeroBelow{};
    std::array<int, kBlock> shift;
};

// Sets coefficient k's divisor (the table's value times 8).
void setDivisor(Quantizer &q, int k, std::uint32_t divisor);

struct TrialKernels {
    // libjpeg's rgb_ycc conversion of one row.
    void (*rgbRowToYcc)(const std::uint8_t *rgb, int width, std::uint8_t *y, std::uint8_t *cb, std::uint8_t *cr);
    // 2x2 average of two full-width chroma rows (libjpeg's h2v2 downsampling).
    void (*downsampleRow)(const std::uint8_t *upper, const std::uint8_t *lower, int outWidth, std::uint8_t *out);
    // An 8x8 block of samples (row stride given) to zigzag-ordered
    // coefficients, libjpeg's jpeg_fdct_islow.
    void (*forwardDct)(const std::uint8_t *samples, int stride, std::int16_t *out);
    // Quantises a block; returns which coefficients are not zero (bit k: zigzag k).
    std::uint64_t (*quantize)(const std::int16_t *in, const Quantizer &q, std::int16_t *out);
};

// forwardDct's arithmetic on samples already less 128 and not bound to
// 0..255 (natural order): for blocks whose clipped runs were reshaped.
void forwardDctShifted(const std::int32_t *shifted, std::int16_t *out);

// The kernels for this processor, or the portable ones where the switch
// forces them; chosen once.
const TrialKernels &trialKernels();

// Each set by itself, for tests that compare them (AVX2 only where the
// processor has it).
const TrialKernels &portableTrialKernels();
const TrialKernels &avx2TrialKernels();

} // namespace tovalin::detail
