#include "imaging/jpegtrials.h"

#include "common/helpers.h"
#include "imaging/jpeg.h"
#include "imaging/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include <immintrin.h>
#include <jpeglib.h>

namespace tovalin {

namespace {

constexpr int kBlock = 64;
constexpr int kBlocksPerMcu = 6;

// Zigzag position -> natural (row-major) position.
constexpr std::array<int, kBlock> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// --- Colour conversion (libjpeg's rgb_ycc, 16 fraction bits) -------------

// libjpeg looks each component up in tables that are linear in it, so the
// products below give the same sums; written so, a row vectorises.
constexpr std::int32_t fix(double x) { return static_cast<std::int32_t>(x * 65536 + 0.5); }
constexpr std::int32_t kHalf = 1 << 15;
constexpr std::int32_t kChromaOffset = (128 << 16) + kHalf - 1;

__attribute__((target_clones("avx2", "default"))) void rgbRowToYcc(const std::uint8_t *rgb, int width, std::uint8_t *y,
                                                                    std::uint8_t *cb, std::uint8_t *cr)
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
__attribute__((target_clones("avx2", "default"))) void downsampleRow(const std::uint8_t *upper, const std::uint8_t *lower,
                                                                      int outWidth, std::uint8_t *out)
{
    for (int x = 0; x < outWidth; ++x)
        out[x] = static_cast<std::uint8_t>((upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1] + 1 + (x & 1)) >> 2);
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
void forwardDctPortable(const std::uint8_t *samples, int stride, std::int16_t *out)
{
    Lanes d[8];
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y)
            d[x][y] = samples[y * stride + x] - 128;
    fdct1d<true>(d);
    Lanes e[8];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u)
            e[y][u] = d[u][y];
    fdct1d<false>(e);
    for (int k = 0; k < kBlock; ++k)
        out[k] = static_cast<std::int16_t>(e[kNatural[k] / 8][kNatural[k] % 8]);
}

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

// For each coefficient (zigzag order): (|c| + correction) * reciprocal >> shift,
// the sign put back; shift = 16 + log2 of the divisor, so the second step is
// a multiply by 2^(32 - shift) keeping the high half, as libjpeg-turbo's
// SIMD quantiser does.
struct Quantizer {
    alignas(32) std::array<std::uint16_t, kBlock> reciprocal;
    alignas(32) std::array<std::uint16_t, kBlock> correction;
    alignas(32) std::array<std::uint16_t, kBlock> scale;
    std::array<int, kBlock> shift;
};

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

struct QuantTables {
    std::array<std::array<std::uint8_t, kBlock>, 2> natural{}; // as written in DQT (natural order)
    std::array<Quantizer, 2> zigzag{};                        // for coefficients in zigzag order
};

QuantTables quantTablesFor(int factor)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_linear_quality(&cinfo, quantScaleForFactor(factor), TRUE);
    QuantTables t;
    for (int n = 0; n < 2; ++n)
        for (int i = 0; i < kBlock; ++i) {
            t.natural[n][i] = static_cast<std::uint8_t>(cinfo.quant_tbl_ptrs[n]->quantval[i]);
            setDivisor(t.zigzag[n], i, std::uint32_t(cinfo.quant_tbl_ptrs[n]->quantval[kNatural[i]]) << 3);
        }
    jpeg_destroy_compress(&cinfo);
    return t;
}

// Quantises a block; returns which coefficients are not zero (bit k: zigzag k).
std::uint64_t quantizePortable(const std::int16_t *in, const Quantizer &q, std::int16_t *out)
{
    std::uint64_t nonzero = 0;
    for (int k = 0; k < kBlock; ++k) {
        const std::int32_t c = in[k];
        const std::uint32_t magnitude = static_cast<std::uint32_t>(c < 0 ? -c : c);
        const auto v = static_cast<std::int32_t>((magnitude + q.correction[k]) * q.reciprocal[k] >> q.shift[k]);
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
            __m256i v = _mm256_add_epi16(_mm256_abs_epi16(c), _mm256_load_si256(reinterpret_cast<const __m256i *>(&q.correction[at])));
            v = _mm256_mulhi_epu16(v, _mm256_load_si256(reinterpret_cast<const __m256i *>(&q.reciprocal[at])));
            v = _mm256_mulhi_epu16(v, _mm256_load_si256(reinterpret_cast<const __m256i *>(&q.scale[at])));
            v = _mm256_sign_epi16(v, c);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + at), v);
            isZero[i] = _mm256_cmpeq_epi16(v, _mm256_setzero_si256());
        }
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(isZero[0], isZero[1]), 0xD8);
        zero |= std::uint64_t(std::uint32_t(_mm256_movemask_epi8(bytes))) << (half * 32);
    }
    return ~zero;
}

// --- Huffman coding --------------------------------------------------------

int bitCount(std::uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }

struct Counts {
    std::array<std::array<long, 257>, 2> dc{};
    std::array<std::array<long, 257>, 2> ac{};
};

struct HuffTable {
    std::array<std::uint8_t, 17> bits{}; // bits[k]: codes of length k
    std::vector<std::uint8_t> values;
    std::array<std::uint32_t, 256> code{};
    std::array<std::uint8_t, 256> size{};
};

// libjpeg's jpeg_gen_optimal_table, then its code assignment.
HuffTable optimalTable(std::array<long, 257> freq)
{
    constexpr int kMaxLength = 32;
    std::array<int, kMaxLength + 1> bits{};
    std::array<int, 257> codesize{};
    std::array<int, 257> others;
    others.fill(-1);
    freq[256] = 1;
    // Only the symbols that occur take part, scanned in the same order, so
    // the choices among equal counts are libjpeg's.
    std::array<int, 257> live;
    int n = 0;
    for (int i = 0; i <= 256; ++i)
        if (freq[i])
            live[n++] = i;
    for (;;) {
        int c1 = -1, c2 = -1, c2At = -1;
        long v = 1000000000L;
        for (int k = 0; k < n; ++k)
            if (freq[live[k]] <= v) {
                v = freq[live[k]];
                c1 = live[k];
            }
        v = 1000000000L;
        for (int k = 0; k < n; ++k)
            if (freq[live[k]] <= v && live[k] != c1) {
                v = freq[live[k]];
                c2 = live[k];
                c2At = k;
            }
        if (c2 < 0)
            break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        std::copy(live.begin() + c2At + 1, live.begin() + n, live.begin() + c2At);
        --n;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }
    for (int i = 0; i <= 256; ++i)
        if (codesize[i])
            ++bits[std::min(codesize[i], kMaxLength)];
    int i = kMaxLength;
    for (; i > 16; --i)
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    while (bits[i] == 0)
        --i;
    --bits[i]; // the reserved symbol 256 leaves the longest codes

    HuffTable t;
    for (int l = 1; l <= 16; ++l)
        t.bits[l] = static_cast<std::uint8_t>(bits[l]);
    for (int l = 1; l <= kMaxLength; ++l)
        for (int s = 0; s <= 255; ++s)
            if (codesize[s] == l)
                t.values.push_back(static_cast<std::uint8_t>(s));
    std::uint32_t code = 0;
    std::size_t p = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int n = 0; n < t.bits[l]; ++n, ++p) {
            t.code[t.values[p]] = code++;
            t.size[t.values[p]] = static_cast<std::uint8_t>(l);
        }
        code <<= 1;
    }
    return t;
}

// Huffman codes into bytes, eight at a time through a 64-bit buffer; only
// a word holding a 0xFF byte goes byte by byte to stuff a zero after it.
class BitWriter {
public:
    // Appends to `out`, whose capacity should already hold the scan.
    explicit BitWriter(QByteArray &out) : m_out(out), m_used(std::size_t(out.size()))
    {
        m_out.resize(std::max<qsizetype>(out.capacity(), out.size() + 4096));
        m_data = m_out.data();
    }
    // Room for one more block at worst (every coefficient coded in 27 bits,
    // every byte stuffed).
    void reserveBlock()
    {
        if (std::size_t(m_out.size()) - m_used < 512) {
            m_out.resize(m_out.size() * 2);
            m_data = m_out.data();
        }
    }
    // `bits` holds exactly `count` (at most 32) bits.
    void put(std::uint64_t bits, int count)
    {
        m_free -= count;
        if (m_free >= 0) {
            m_buffer = (m_buffer << count) | bits;
            return;
        }
        // Fill the buffer, write it, keep the rest of `bits` (the higher,
        // already written ones are shifted out later).
        m_buffer = (m_buffer << (count + m_free)) | (bits >> -m_free);
        write(m_buffer);
        m_free += 64;
        m_buffer = bits;
    }
    // Pads the last byte with ones and ends the array at the last byte.
    void finish()
    {
        int used = 64 - m_free;
        if (used % 8) {
            const int pad = 8 - used % 8;
            put((1u << pad) - 1, pad);
            used = 64 - m_free;
        }
        for (int shift = used - 8; shift >= 0; shift -= 8)
            writeByte(static_cast<std::uint8_t>(m_buffer >> shift));
        m_out.resize(qsizetype(m_used));
    }

private:
    void write(std::uint64_t word)
    {
        if (word & 0x8080808080808080ull & ~(word + 0x0101010101010101ull)) {
            for (int shift = 56; shift >= 0; shift -= 8)
                writeByte(static_cast<std::uint8_t>(word >> shift));
            return;
        }
        const std::uint64_t bigEndian = __builtin_bswap64(word);
        std::memcpy(m_data + m_used, &bigEndian, 8);
        m_used += 8;
    }
    void writeByte(std::uint8_t byte)
    {
        m_data[m_used++] = static_cast<char>(byte);
        if (byte == 0xFF)
            m_data[m_used++] = 0;
    }

    QByteArray &m_out;
    char *m_data; // m_out's, after each resize
    std::size_t m_used;
    std::uint64_t m_buffer = 0;
    int m_free = 64;
};

// Runs through every block of the scan, quantised, telling `visit` the
// component's table (0 luma, 1 chroma), the DC difference, the block and
// which of its coefficients are not zero.
template <typename Visit>
void forEachBlock(const std::int16_t *coefs, std::size_t mcus, const QuantTables &q, Visit visit)
{
    const auto quantize = cpuHasAvx2() ? quantizeAvx2 : quantizePortable;
    std::array<std::int32_t, 3> lastDc{};
    alignas(32) std::int16_t block[kBlock];
    const std::int16_t *in = coefs;
    for (std::size_t m = 0; m < mcus; ++m) {
        for (int b = 0; b < kBlocksPerMcu; ++b, in += kBlock) {
            const int component = b < 4 ? 0 : b - 3;
            const int table = component == 0 ? 0 : 1;
            const std::uint64_t nonzero = quantize(in, q.zigzag[table], block);
            visit(table, block[0] - lastDc[component], block, nonzero);
            lastDc[component] = block[0];
        }
    }
}

// Calls run(zero run before it, k) for each non-zero AC coefficient k, then
// returns whether the block ends in zeros (an end-of-block code).
template <typename Run>
bool forEachAc(std::uint64_t nonzero, Run run)
{
    int last = 0;
    for (std::uint64_t m = nonzero & ~std::uint64_t(1); m; m &= m - 1) {
        const int k = __builtin_ctzll(m);
        run(k - last - 1, k);
        last = k;
    }
    return last != kBlock - 1;
}

// Adds how often each Huffman symbol occurs in `mcus` MCUs from `coefs`.
void countSymbols(const std::int16_t *coefs, std::size_t mcus, const QuantTables &q, Counts &counts)
{
    forEachBlock(coefs, mcus, q, [&counts](int table, std::int32_t dcDiff, const std::int16_t *block, std::uint64_t nonzero) {
        ++counts.dc[table][bitCount(std::uint32_t(dcDiff < 0 ? -dcDiff : dcDiff))];
        auto &ac = counts.ac[table];
        const bool endOfBlock = forEachAc(nonzero, [&](int run, int k) {
            for (; run > 15; run -= 16)
                ++ac[0xF0];
            ++ac[(run << 4) + bitCount(std::uint32_t(block[k] < 0 ? -block[k] : block[k]))];
        });
        if (endOfBlock)
            ++ac[0];
    });
}

// Bits of a histogram's symbols and their values at its entropy, which an
// optimal code comes within a few per cent of.
double entropyBits(const std::array<long, 257> &freq, bool dc)
{
    double total = 0;
    for (int s = 0; s < 256; ++s)
        total += double(freq[s]);
    double bits = 0;
    for (int s = 0; s < 256; ++s) {
        if (freq[s] == 0)
            continue;
        const double f = double(freq[s]);
        bits += f * (std::log2(total / f) + (dc ? s : s & 15));
    }
    return bits;
}

void appendMarker(QByteArray &out, std::uint8_t marker, const QByteArray &body)
{
    out.append('\xFF');
    out.append(static_cast<char>(marker));
    const int length = int(body.size()) + 2;
    out.append(static_cast<char>(length >> 8));
    out.append(static_cast<char>(length & 0xFF));
    out.append(body);
}

QByteArray dhtBody(int index, const HuffTable &t)
{
    QByteArray body;
    body.append(static_cast<char>(index));
    for (int l = 1; l <= 16; ++l)
        body.append(static_cast<char>(t.bits[l]));
    for (const std::uint8_t v : t.values)
        body.append(static_cast<char>(v));
    return body;
}

} // namespace

JpegTrials::JpegTrials(const QImage &rgb888)
{
    if (rgb888.isNull() || rgb888.format() != QImage::Format_RGB888 || rgb888.width() > JPEG_MAX_DIMENSION
        || rgb888.height() > JPEG_MAX_DIMENSION)
        return;
    m_width = rgb888.width();
    m_height = rgb888.height();
    m_mcusAcross = (m_width + 15) / 16;
    m_mcusDown = (m_height + 15) / 16;
    const int lumaBlocksAcross = (m_width + 7) / 8;
    const int lumaBlocksDown = (m_height + 7) / 8;
    const int chromaRowsReal = (m_height + 1) / 2;
    // Every coefficient is written below: no need to clear them first.
    const std::size_t count = std::size_t(m_mcusAcross) * m_mcusDown * kBlocksPerMcu * kBlock;
    m_coefs.reset(new (std::nothrow) std::int16_t[count]);
    if (!m_coefs)
        return;

    const auto forwardDct = cpuHasAvx2() ? forwardDctAvx2 : forwardDctPortable;
    // One MCU row at a time: 16 luma rows and 8 chroma rows, padded as
    // libjpeg pads them (last column and last row repeated).
    auto mcuRows = [&](int firstRow, int endRow) {
        const int lumaStride = m_mcusAcross * 16;
        const int fullChromaStride = m_mcusAcross * 16;
        const int chromaStride = m_mcusAcross * 8;
        std::vector<std::uint8_t> luma(std::size_t(16) * lumaStride);
        std::vector<std::uint8_t> cbFull(std::size_t(2) * fullChromaStride), crFull(std::size_t(2) * fullChromaStride);
        std::vector<std::uint8_t> cb(std::size_t(8) * chromaStride), cr(std::size_t(8) * chromaStride);
        for (int my = firstRow; my < endRow; ++my) {
            for (int pair = 0; pair < 8; ++pair) {
                const int chromaRow = my * 8 + pair;
                if (chromaRow >= chromaRowsReal) { // below the picture: the last chroma row again
                    std::memcpy(&cb[std::size_t(pair) * chromaStride], &cb[std::size_t(pair - 1) * chromaStride], chromaStride);
                    std::memcpy(&cr[std::size_t(pair) * chromaStride], &cr[std::size_t(pair - 1) * chromaStride], chromaStride);
                    for (int k = 0; k < 2; ++k)
                        std::memcpy(&luma[std::size_t(pair * 2 + k) * lumaStride], &luma[std::size_t(pair * 2 - 1) * lumaStride], lumaStride);
                    continue;
                }
                for (int k = 0; k < 2; ++k) {
                    const int y = std::min(chromaRow * 2 + k, m_height - 1);
                    const std::uint8_t *rgb = rgb888.constScanLine(y);
                    std::uint8_t *yRow = &luma[std::size_t(pair * 2 + k) * lumaStride];
                    std::uint8_t *cbRow = &cbFull[std::size_t(k) * fullChromaStride];
                    std::uint8_t *crRow = &crFull[std::size_t(k) * fullChromaStride];
                    rgbRowToYcc(rgb, m_width, yRow, cbRow, crRow);
                    std::fill(yRow + m_width, yRow + lumaStride, yRow[m_width - 1]);
                    std::fill(cbRow + m_width, cbRow + fullChromaStride, cbRow[m_width - 1]);
                    std::fill(crRow + m_width, crRow + fullChromaStride, crRow[m_width - 1]);
                }
                downsampleRow(cbFull.data(), cbFull.data() + fullChromaStride, chromaStride, &cb[std::size_t(pair) * chromaStride]);
                downsampleRow(crFull.data(), crFull.data() + fullChromaStride, chromaStride, &cr[std::size_t(pair) * chromaStride]);
            }
            for (int mx = 0; mx < m_mcusAcross; ++mx) {
                std::int16_t *mcu = &m_coefs.get()[(std::size_t(my) * m_mcusAcross + mx) * kBlocksPerMcu * kBlock];
                for (int b = 0; b < 4; ++b) {
                    const int bx = mx * 2 + (b & 1), by = my * 2 + (b >> 1);
                    std::int16_t *out = mcu + b * kBlock;
                    if (bx < lumaBlocksAcross && by < lumaBlocksDown) {
                        forwardDct(&luma[std::size_t((b >> 1) * 8) * lumaStride + bx * 8], lumaStride, out);
                        continue;
                    }
                    // Padding blocks: no detail, the DC of the block before
                    // (right edge) or of the MCU's upper right block (bottom).
                    std::fill(out, out + kBlock, std::int16_t(0));
                    out[0] = bx >= lumaBlocksAcross && by < lumaBlocksDown ? out[-kBlock] : mcu[kBlock];
                }
                forwardDct(&cb[mx * 8], chromaStride, mcu + 4 * kBlock);
                forwardDct(&cr[mx * 8], chromaStride, mcu + 5 * kBlock);
            }
        }
    };
    // Both cores take half of the MCU rows.
    const int half = m_mcusDown / 2;
    Helper other([&] { mcuRows(half, m_mcusDown); });
    mcuRows(0, half);
    other.wait();
}

std::int64_t JpegTrials::estimateSize(int factor) const
{
    if (!ok())
        return 0;
    const QuantTables q = quantTablesFor(factor);
    // Every step-th MCU row, whole rows so the DC differences stay as coded.
    const int step = (m_mcusDown + kEstimateRows - 1) / kEstimateRows;
    Counts all;
    int rows = 0;
    for (int row = 0; row < m_mcusDown; row += step, ++rows)
        countSymbols(&m_coefs.get()[std::size_t(row) * m_mcusAcross * kBlocksPerMcu * kBlock], std::size_t(m_mcusAcross), q, all);
    double bits = 0;
    int symbols = 0; // each listed in its table's marker
    for (int t = 0; t < 2; ++t) {
        bits += entropyBits(all.dc[t], true) + entropyBits(all.ac[t], false);
        symbols += int(std::count_if(all.dc[t].begin(), all.dc[t].end(), [](long f) { return f > 0; }))
                   + int(std::count_if(all.ac[t].begin(), all.ac[t].end(), [](long f) { return f > 0; }));
    }
    // Start, JFIF, two quantisation tables, frame, four Huffman tables
    // without their symbols, scan header and end.
    constexpr int kMarkerBytes = 2 + 18 + 2 * 69 + 19 + 4 * 21 + 14 + 2;
    return std::int64_t(bits / 8 * m_mcusDown / rows) + kMarkerBytes + symbols;
}

QByteArray JpegTrials::encode(int factor) const
{
    if (!ok())
        return {};
    const QuantTables q = quantTablesFor(factor);
    const std::size_t mcus = std::size_t(m_mcusAcross) * m_mcusDown;

    Counts counts;
    countSymbols(m_coefs.get(), mcus, q, counts);
    const std::array<HuffTable, 2> dc = {optimalTable(counts.dc[0]), optimalTable(counts.dc[1])};
    const std::array<HuffTable, 2> ac = {optimalTable(counts.ac[0]), optimalTable(counts.ac[1])};

    // The scan's length before stuffing is known from the counts: one
    // allocation, with room for a stuffed byte in every 64, then no copy.
    std::int64_t scanBits = 0;
    for (int t = 0; t < 2; ++t)
        for (int symbol = 0; symbol < 256; ++symbol)
            scanBits += counts.dc[t][symbol] * (dc[t].size[symbol] + symbol)
                        + counts.ac[t][symbol] * (ac[t].size[symbol] + (symbol & 15));
    QByteArray out;
    out.reserve(qsizetype(scanBits / 8 + scanBits / 512 + 2048));
    out.append("\xFF\xD8", 2);
    appendMarker(out, 0xE0, QByteArray("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));
    for (int n = 0; n < 2; ++n) {
        QByteArray body(1, char(n));
        for (int k = 0; k < kBlock; ++k)
            body.append(static_cast<char>(q.natural[n][kNatural[k]]));
        appendMarker(out, 0xDB, body);
    }
    const char frame[] = {8, char(m_height >> 8), char(m_height & 0xFF), char(m_width >> 8), char(m_width & 0xFF), 3,
                          1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    appendMarker(out, 0xC0, QByteArray(frame, sizeof frame));
    appendMarker(out, 0xC4, dhtBody(0x00, dc[0]));
    appendMarker(out, 0xC4, dhtBody(0x10, ac[0]));
    appendMarker(out, 0xC4, dhtBody(0x01, dc[1]));
    appendMarker(out, 0xC4, dhtBody(0x11, ac[1]));
    const char scan[] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    appendMarker(out, 0xDA, QByteArray(scan, sizeof scan));

    BitWriter bits(out);
    // A code and the value's low bits (one less when negative) in one go.
    auto emitValue = [&bits](const HuffTable &table, int symbol, std::int32_t value, int size) {
        const std::uint32_t low = std::uint32_t(value < 0 ? value - 1 : value) & ((1u << size) - 1);
        bits.put(std::uint64_t(table.code[symbol]) << size | low, table.size[symbol] + size);
    };
    forEachBlock(m_coefs.get(), mcus, q, [&](int table, std::int32_t dcDiff, const std::int16_t *block, std::uint64_t nonzero) {
        bits.reserveBlock();
        const int dcSize = bitCount(std::uint32_t(dcDiff < 0 ? -dcDiff : dcDiff));
        emitValue(dc[table], dcSize, dcDiff, dcSize);
        const HuffTable &acTable = ac[table];
        const bool endOfBlock = forEachAc(nonzero, [&](int run, int k) {
            for (; run > 15; run -= 16)
                bits.put(acTable.code[0xF0], acTable.size[0xF0]);
            const std::int32_t v = block[k];
            const int size = bitCount(std::uint32_t(v < 0 ? -v : v));
            emitValue(acTable, (run << 4) + size, v, size);
        });
        if (endOfBlock)
            bits.put(acTable.code[0], acTable.size[0]);
    });
    bits.finish();
    out.append("\xFF\xD9", 2);
    return out;
}

} // namespace tovalin
