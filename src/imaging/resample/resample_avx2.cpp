// Compiled with AVX2 enabled; called only after the run-time CPU check.
#include "imaging/resample/resample_internal.h"

#include <immintrin.h>
#include <algorithm>
#include <cstring>

namespace tovalin::detail {

namespace {

// (high << 15) + low, plus the rounding half, then clip8 for each lane:
// the shift and the two saturating packs give 0 for v <= 0 and 255 for
// v >= 2^30, exactly like the portable clip.
inline __m256i combine(__m256i low, __m256i high)
{
    const __m256i half = _mm256_set1_epi32(1 << (kPrecisionBits - 1));
    const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(high, kSplitBits), low), half);
    return _mm256_srai_epi32(sum, kPrecisionBits);
}

inline __m256i pairWeights(std::int16_t a, std::int16_t b)
{
    return _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(a))
                             | (static_cast<std::int32_t>(static_cast<std::uint16_t>(b)) << 16));
}

// Four source pixels, 12 bytes, spread as 16-bit lanes: pixels 0,1 of
// each channel in the low half, pixels 2,3 in the high half. Wide loads
// take 16 bytes of which the 12 are used: one load and one shuffle a run
// instead of two loads, an insert, a broadcast and a shuffle.
template <bool Wide>
inline __m256i spreadRun(const std::uint8_t *p)
{
    const __m256i spread = _mm256_setr_epi8(
        0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1,
        6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1);
    __m128i px;
    if (Wide) {
        px = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    } else {
        std::int32_t tail;
        std::memcpy(&tail, p + 8, 4); // exactly 12 bytes: never past the row
        px = _mm_insert_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), tail, 2);
    }
    return _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(px), spread);
}

// The three bytes of a pixel, from the low bytes of `rgb`.
inline void storePixel(std::uint8_t *out, std::uint32_t rgb)
{
    out[0] = static_cast<std::uint8_t>(rgb);
    out[1] = static_cast<std::uint8_t>(rgb >> 8);
    out[2] = static_cast<std::uint8_t>(rgb >> 16);
}

// One output pixel: `groups` runs of four source pixels from p, weighed by
// the low and high halves of the weights, folded, combined and clipped.
template <bool Wide>
inline void horizontalPixel(const std::uint8_t *p, const std::int16_t *lanes, int groups, std::uint8_t *out)
{
    __m256i low = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    for (int g = 0; g < groups; ++g, p += 12, lanes += 32) {
        const __m256i v = spreadRun<Wide>(p);
        low = _mm256_add_epi32(low, _mm256_madd_epi16(v, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lanes))));
        high = _mm256_add_epi32(high, _mm256_madd_epi16(v, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lanes + 16))));
    }
    // Fold the two pixel pairs together, then combine and clip.
    const __m128i lo = _mm_add_epi32(_mm256_castsi256_si128(low), _mm256_extracti128_si256(low, 1));
    const __m128i hi = _mm_add_epi32(_mm256_castsi256_si128(high), _mm256_extracti128_si256(high, 1));
    const __m128i half = _mm_set1_epi32(1 << (kPrecisionBits - 1));
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(hi, kSplitBits), lo), half);
    const __m128i v = _mm_srai_epi32(sum, kPrecisionBits);
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(v, v), _mm_setzero_si128());
    storePixel(out, static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed)));
}

// The same output pixel of two source rows: the weights are loaded once,
// and the folds, combines and clips of both rows share their vectors.
template <bool Wide>
inline void horizontalPixelPair(const std::uint8_t *p0, const std::uint8_t *p1, const std::int16_t *lanes, int groups,
                                std::uint8_t *out0, std::uint8_t *out1)
{
    __m256i low0 = _mm256_setzero_si256(), high0 = low0, low1 = low0, high1 = low0;
    for (int g = 0; g < groups; ++g, p0 += 12, p1 += 12, lanes += 32) {
        const __m256i wl = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lanes));
        const __m256i wh = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lanes + 16));
        const __m256i v0 = spreadRun<Wide>(p0);
        const __m256i v1 = spreadRun<Wide>(p1);
        low0 = _mm256_add_epi32(low0, _mm256_madd_epi16(v0, wl));
        high0 = _mm256_add_epi32(high0, _mm256_madd_epi16(v0, wh));
        low1 = _mm256_add_epi32(low1, _mm256_madd_epi16(v1, wl));
        high1 = _mm256_add_epi32(high1, _mm256_madd_epi16(v1, wh));
    }
    // Row 0 in the low half, row 1 in the high half, each its pairs folded.
    const __m256i low = _mm256_add_epi32(_mm256_permute2x128_si256(low0, low1, 0x20), _mm256_permute2x128_si256(low0, low1, 0x31));
    const __m256i high = _mm256_add_epi32(_mm256_permute2x128_si256(high0, high1, 0x20), _mm256_permute2x128_si256(high0, high1, 0x31));
    const __m256i v = combine(low, high);
    const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(v, v), _mm256_setzero_si256());
    storePixel(out0, static_cast<std::uint32_t>(_mm256_cvtsi256_si32(packed)));
    storePixel(out1, static_cast<std::uint32_t>(_mm256_extract_epi32(packed, 4)));
}

} // namespace

void horizontalRowPairAvx2(const std::uint8_t *in0, const std::uint8_t *in1, std::uint8_t *out0, std::uint8_t *out1,
                           int outWidth, const SplitHorizontalTable &t)
{
    const std::size_t laneStride = static_cast<std::size_t>(t.groups) * 32;
    const int wide = std::min(t.wideLoads, outWidth);
    int xx = 0;
    for (; xx < wide; ++xx)
        horizontalPixelPair<true>(in0 + t.start[xx] * 3, in1 + t.start[xx] * 3, &t.lanes[xx * laneStride], t.groups,
                                  out0 + xx * 3, out1 + xx * 3);
    for (; xx < outWidth; ++xx)
        horizontalPixelPair<false>(in0 + t.start[xx] * 3, in1 + t.start[xx] * 3, &t.lanes[xx * laneStride], t.groups,
                                   out0 + xx * 3, out1 + xx * 3);
}

void horizontalRowAvx2(const std::uint8_t *in, std::uint8_t *out, int outWidth,
                       const AxisCoefficients &, const SplitHorizontalTable &t)
{
    const std::size_t laneStride = static_cast<std::size_t>(t.groups) * 32;
    const int wide = std::min(t.wideLoads, outWidth);
    int xx = 0;
    for (; xx < wide; ++xx)
        horizontalPixel<true>(in + t.start[xx] * 3, &t.lanes[xx * laneStride], t.groups, out + xx * 3);
    for (; xx < outWidth; ++xx)
        horizontalPixel<false>(in + t.start[xx] * 3, &t.lanes[xx * laneStride], t.groups, out + xx * 3);
}

void verticalRowAvx2(const std::uint8_t *const *rows, int n, const std::int32_t *k,
                     std::uint8_t *out, int bytes)
{
    const int vectorBytes = bytes / 16 * 16;
    for (int x = 0; x < vectorBytes; x += 16) {
        __m256i low0 = _mm256_setzero_si256(), high0 = low0, low1 = low0, high1 = low0;
        for (int y = 0; y < n; y += 2) {
            // An odd last row is paired with itself at weight 0.
            const int y1 = y + 1 < n ? y + 1 : y;
            const std::int32_t w1 = y + 1 < n ? k[y + 1] : 0;
            const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[y] + x));
            const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[y1] + x));
            const __m256i p0 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(r0, r1));
            const __m256i p1 = _mm256_cvtepu8_epi16(_mm_unpackhi_epi8(r0, r1));
            const __m256i wl = pairWeights(weightLow(k[y]), weightLow(w1));
            const __m256i wh = pairWeights(weightHigh(k[y]), weightHigh(w1));
            low0 = _mm256_add_epi32(low0, _mm256_madd_epi16(p0, wl));
            high0 = _mm256_add_epi32(high0, _mm256_madd_epi16(p0, wh));
            low1 = _mm256_add_epi32(low1, _mm256_madd_epi16(p1, wl));
            high1 = _mm256_add_epi32(high1, _mm256_madd_epi16(p1, wh));
        }
        const __m256i v0 = combine(low0, high0);
        const __m256i v1 = combine(low1, high1);
        // packs works per 128-bit lane: reorder so the 16 bytes come out in order.
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(v0, v1), 0xD8);
        const __m128i bytes16 = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), bytes16);
    }
    for (int x = vectorBytes; x < bytes; ++x) {
        int s = 1 << (kPrecisionBits - 1);
        for (int y = 0; y < n; ++y)
            s += rows[y][x] * k[y];
        out[x] = clip8(s);
    }
}

} // namespace tovalin::detail
