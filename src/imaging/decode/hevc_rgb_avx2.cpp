// Compiled with AVX2 enabled; called only after the run-time CPU check.
#include "imaging/decode/hevc_rgb.h"

#include <immintrin.h>
#include <cstring>

namespace tovalin::detail {

namespace {

// Eight values plus a half, truncated and clipped to 0..255 (the packs
// saturate), as bytes in the low half.
inline void store8(std::uint8_t *out, __m256 value)
{
    const __m256i words = _mm256_cvttps_epi32(_mm256_add_ps(value, _mm256_set1_ps(0.5f)));
    const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(packed, packed));
}

} // namespace

void yccRowToRgbAvx2(const std::uint8_t *y, const std::uint8_t *cb, const std::uint8_t *cr, std::uint8_t *r,
                     std::uint8_t *g, std::uint8_t *b, int width, const YccToRgb &k)
{
    const __m256i half = _mm256_set1_epi32(128);
    const __m256 rCr = _mm256_set1_ps(k.rCr), gCb = _mm256_set1_ps(k.gCb), gCr = _mm256_set1_ps(k.gCr),
                 bCb = _mm256_set1_ps(k.bCb);
    const auto chroma = [&](const std::uint8_t *c) {
        std::int32_t four;
        std::memcpy(&four, c, 4);
        const __m128i pairs = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), _mm_cvtsi32_si128(four)); // each sample twice
        return _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_cvtepu8_epi32(pairs), half));
    };
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256 luma = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(y + x))));
        const __m256 u = chroma(cb + x / 2);
        const __m256 v = chroma(cr + x / 2);
        store8(r + x, _mm256_add_ps(luma, _mm256_mul_ps(rCr, v)));
        store8(g + x, _mm256_add_ps(_mm256_add_ps(luma, _mm256_mul_ps(gCb, u)), _mm256_mul_ps(gCr, v)));
        store8(b + x, _mm256_add_ps(luma, _mm256_mul_ps(bCb, u)));
    }
    yccRowToRgbPortable(y + x, cb + x / 2, cr + x / 2, r + x, g + x, b + x, width - x, k);
}

} // namespace tovalin::detail
