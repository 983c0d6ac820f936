#include "imaging/jpeg/trials_kernels.h"

#include "common/cpufeatures.h"

#include <immintrin.h>

namespace tovalin::detail {

namespace {

// --- Colour conversion (libjpeg's rgb_ycc, 16 fraction bits) -------------

// libjpeg looks each component up in tables that are linear in it, so the
// products below give the same sums; written so, a row vectorises.
constexpr std::int32_t fix(double x) { return static_cast<std::int32_t>(x * 65536 + 0.5); }
constexpr std::int32_t kHalf = 1 << 15;
constexpr std::int32_t kChromaOffset = (128 << 16) + kHalf - 1;

[[gnu::always_inline]] inline void rgbRowToYccBody(const std::uint8_t *rgb, int width, std::uint8_t *y, std::uint8_t *cb,
                                                   std::uint8_t *cr)
{
    for (int x = 0; x < width; ++x) {
        const std::int32_t r = rgb[3 * x], g = rgb[3 * x + 1], b = rgb[3 * x + 2];
        y[x] = static_cast<std::uint8_t>((fix(0.29900) * r + fix(0.58700) * g + fix(0.11400) * b + kHalf) >> 16);
        cb[x] = static_cast<std::uint8_t>((-fix(0.16874) * r - fix(0.33126) * g + fix(0.5) * b + kChromaOffset) >> 16);
        cr[x] = static_cast<std::uint8_t>((fix(0.5) * r - fix(0.41869) * g - fix(0.08131) * b + kChromaOffset) >> 16);
    }
}

// 2x2 average of two full-width chroma rows with libjpeg's alternating
// rounding bias (1, 2, 1, 2, ...).
[[gnu::always_inline]] inline void downsampleRowBody(const std::uint8_t *upper, const std::uint8_t *lower, int outWidth,
                                                     std::uint8_t *out)
{
    for (int x = 0; x < outWidth; ++x)
        out[x] = static_cast<std::uint8_t>((upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1] + 1 + (x & 1)) >> 2);
}

void rgbRowToYccPortable(const std::uint8_t *rgb, int width, std::uint8_t *y, std::uint8_t *cb, std::uint8_t *cr)
{
    rgbRowToYccBody(rgb, width, y, cb, cr);
}

__attribute__((target("avx2"))) void rgbRowToYccAvx2(const std::uint8_t *rgb, int width, std::uint8_t *y, std::uint8_t *cb,
                                                     std::uint8_t *cr)
{
    rgbRowToYccBody(rgb, width, y, cb, cr);
}

void downsampleRowPortable(const std::uint8_t *upper, const std::uint8_t *lower, int outWidth, std::uint8_t *out)
{
    downsampleRowBody(upper, lower, outWidth, out);
}

__attribute__((target("avx2"))) void downsampleRowAvx2(const std::uint8_t *upper, const std::uint8_t *lower, int outWidth,
                                                       std::uint8_t *out)
{
    downsampleRowBody(upper, lower, outWidth, out);
}

// --- Forward DCT (libjpeg's jpeg_fdct_islow, bit for bit) -----------------

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr std::int32_t F0298 = 2446, F0390 = 3196, F0541 = 4433, F0765 = 6270, F0899 = 7373, F1175 = 9633,
                       F1501 = 12299, F1847 = 15137, F1961 = 16069, F2053 = 16819, F2562 = 20995, F3072 = 25172;

using Lanes = std::int32_t __attribute__((vector_size(32))); // eight rows or columns at once

inline Lanes descale(Lanes x, int n)
{
    return (x + (1 << (n - 1))) >> n;
}

// One 1-D pass over d[0], d[1], ... d[7], each holding eight lanes.
template <bool FirstPass>
inline void fdct1d(Lanes *d)
{
    const Lanes tmp0 = d[0] + d[7], tmp7 = d[0] - d[7];
    const Lanes tmp1 = d[1] + d[6], tmp6 = d[1] - d[6];
    const Lanes tmp2 = d[2] + d[5], tmp5 = d[2] - d[5];
    const Lanes tmp3 = d[3] + d[4], tmp4 = d[3] - d[4];
    const Lanes tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    constexpr int shift = FirstPass ? kConstBits - kPass1Bits : kConstBits + kPass1Bits;
    if (FirstPass) {
        d[0] = (tmp10 + tmp11) * (1 << kPass1Bits);
        d[4] = (tmp10 - tmp11) * (1 << kPass1Bits);
    } else {
        d[0] = descale(tmp10 + tmp11, kPass1Bits);
        d[4] = descale(tmp10 - tmp11, kPass1Bits);
    }
    Lanes z1 = (tmp12 + tmp13) * F0541;
    d[2] = descale(z1 + tmp13 * F0765, shift);
    d[6] = descale(z1 + tmp12 * -F1847, shift);
    z1 = tmp4 + tmp7;
    Lanes z2 = tmp5 + tmp6, z3 = tmp4 + tmp6, z4 = tmp5 + tmp7;
    const Lanes z5 = (z3 + z4) * F1175;
    const Lanes t4 = tmp4 * F0298, t5 = tmp5 * F2053, t6 = tmp6 * F3072, t7 = tmp7 * F1501;
    z1 *= -F0899;
    z2 *= -F2562;
    z3 = z3 * -F1961 + z5;
    z4 = z4 * -F0390 + z5;
    d[7] = descale(t4 + z1 + z3, shift);
    d[5] = descale(t5 + z2 + z4, shift);
    d[3] = descale(t6 + z2 + z3, shift);
    d[1] = descale(t7 + z1 + z4, shift);
}

// An 8x8 block of samples (row stride given) to zigzag-ordered coefficients:
// along the rows first (a lane per row), then down the columns (a lane per
// column).
// Both passes, from the columns of a block already less 128 (d[x][y]).
void forwardDctOfColumns(Lanes *d, std::int16_t *out)
{
    fdct1d<true>(d);
    Lanes e[8];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u)
            e[y][u] = d[u][y];
    fdct1d<false>(e);
    for (int k = 0; k < kBlock; ++k)
        out[k] = static_cast<std::int16_t>(e[kNatural[k] / 8][kNatural[k] % 8]);
}

void forwardDctPortable(const std::uint8_t *samples, int stride, std::int16_t *out)
{
    Lanes d[8];
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y)
            d[x][y] = samples[y * stride + x] - 128;
    forwardDctOfColumns(d, out);
}

} // namespace

void forwardDctShifted(const std::int32_t *shifted, std::int16_t *out)
{
    Lanes d[8];
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y)
            d[x][y] = shifted[y * 8 + x];
    forwardDctOfColumns(d, out);
}

namespace {

// Rows to columns of an 8x8 block of 32-bit lanes, in registers.
__attribute__((target("avx2"))) inline void transpose8x8(Lanes *v)
{
    __m256i r[8], t[8];
    for (int i = 0; i < 8; ++i)
        r[i] = reinterpret_cast<__m256i>(v[i]);
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        r[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        r[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        r[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        r[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = reinterpret_cast<Lanes>(_mm256_permute2x128_si256(r[i], r[i + 4], 0x20));
        v[i + 4] = reinterpret_cast<Lanes>(_mm256_permute2x128_si256(r[i], r[i + 4], 0x31));
    }
}

// The same arithmetic, the block turned with shuffles rather than lane by lane.
__attribute__((target("avx2"))) void forwardDctAvx2(const std::uint8_t *samples, int stride, std::int16_t *out)
{
    Lanes d[8];
    for (int y = 0; y < 8; ++y)
        d[y] = reinterpret_cast<Lanes>(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + y * stride)))) - 128;
    transpose8x8(d);
    fdct1d<true>(d);
    transpose8x8(d);
    fdct1d<false>(d);
    alignas(32) std::int16_t natural[kBlock];
    for (int v = 0; v < 8; v += 2) {
        const __m256i packed = _mm256_packs_epi32(reinterpret_cast<__m256i>(d[v]), reinterpret_cast<__m256i>(d[v + 1]));
        _mm256_store_si256(reinterpret_cast<__m256i *>(natural + v * 8), _mm256_permute4x64_epi64(packed, 0xD8));
    }
    for (int k = 0; k < kBlock; ++k)
        out[k] = natural[kNatural[k]];
}

// --- Quantisation (libjpeg-turbo's reciprocal division) -------------------

// Quantises a block; returns which coefficients are not zero (bit k: zigzag k).
std::uint64_t quantizePortable(const std::int16_t *in, const Quantizer &q, std::int16_t *out)
{
    std::uint64_t nonzero = 0;
    for (int k = 0; k < kBlock; ++k) {
        const std::int32_t c = in[k];
        const std::uint32_t magnitude = static_cast<std::uint32_t>(c < 0 ? -c : c);
        const auto v = magnitude < q.zeroBelow[k]
                           ? 0
                           : static_cast<std::int32_t>((magnitude + q.correction[k]) * q.reciprocal[k] >> q.shift[k]);
        out[k] = static_cast<std::int16_t>(c < 0 ? -v : v);
        nonzero |= std::uint64_t(v != 0) << k;
    }
    return nonzero;
}

__attribute__((target("avx2"))) std::uint64_t quantizeAvx2(const std::int16_t *in, const Quantizer &q, std::int16_t *out)
{
    std::uint64_t zero = 0;
    for (int half = 0; half < 2; ++half) {
        __m256i isZero[2];
        for (int i = 0; i < 2; ++i) {
            const int at = half * 32 + i * 16;
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + at));
            const __m256i magnitude = _mm256_abs_epi16(c);
            __m256i v = _mm256_add_epi16(magnitude, _mm256_load_si256(reinterpret_cast<const __m256i *>(&q.correction[at])));
            v = _mm256_mulhi_epu16(v, _mm256_load_si256(reinterpret_cast<const __m256i *>(&q.reciprocal[at])));
            v = _mm256_mulhi_epu16(v, _mm256_load_si256(reinterpret_cast<const __m256i *>(&q.scale[at])));
            // Magnitudes stay under 2^15, so the signed comparison holds.
            const __m256i dead = _mm256_cmpgt_epi16(_mm256_load_si256(reinterpret_cast<const __m256i *>(&q.zeroBelow[at])), magnitude);
            v = _mm256_sign_epi16(_mm256_andnot_si256(dead, v), c);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + at), v);
            isZero[i] = _mm256_cmpeq_epi16(v, _mm256_setzero_si256());
        }
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(isZero[0], isZero[1]), 0xD8);
        zero |= std::uint64_t(std::uint32_t(_mm256_movemask_epi8(bytes))) << (half * 32);
    }
    return ~zero;
}

} // namespace

void setDivisor(Quantizer &q, int k, std::uint32_t divisor)
{
    int b = 0;
    while ((1u << (b + 1)) <= divisor)
        ++b;
    int r = 16 + b;
    std::uint32_t fq = (1u << r) / divisor;
    const std::uint32_t fr = (1u << r) % divisor;
    std::uint32_t c = divisor / 2;
    if (fr == 0) {
        fq >>= 1;
        --r;
    } else if (fr <= divisor / 2) {
        ++c;
    } else {
        ++fq;
    }
    q.reciprocal[k] = static_cast<std::uint16_t>(fq);
    q.correction[k] = static_cast<std::uint16_t>(c);
    q.scale[k] = static_cast<std::uint16_t>(1u << (32 - r));
    q.shift[k] = r;
}

const TrialKernels &portableTrialKernels()
{
    static const TrialKernels portable{rgbRowToYccPortable, downsampleRowPortable, forwardDctPortable, quantizePortable};
    return portable;
}

const TrialKernels &avx2TrialKernels()
{
    static const TrialKernels avx2{rgbRowToYccAvx2, downsampleRowAvx2, forwardDctAvx2, quantizeAvx2};
    return avx2;
}

const TrialKernels &trialKernels()
{
    static const TrialKernels &chosen = useAvx2() ? avx2TrialKernels() : portableTrialKernels();
    return chosen;
}

} // namespace tovalin::detail
