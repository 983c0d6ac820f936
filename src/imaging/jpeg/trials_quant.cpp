#include "imaging/jpeg/trials_quant.h"

#include "imaging/jpeg/jpegerror.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>

namespace tovalin::detail {

namespace {

QuantTables libjpegTables(int factor)
{
    jpeg_compress_struct cinfo{};
    JpegErrors err;
    cinfo.err = useJpegErrors(err);
    // Defaults and a quality on a fresh object do not fail; were they to,
    // the tables stay empty rather than the program exiting.
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return {};
    }
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

// Our step for a coefficient before scaling, the same for luma and chroma:
// 16 at DC, growing in a straight line with the distance from it, to 84
// at the highest frequency. Flatter than libjpeg's tables (which reach 121 in
// chroma): measured on photos, screenshots and text, the straight line
// needs the fewest bytes for SSIMULACRA2 and butteraugli; a square of the
// distance needs 3 % more, a cube 7 %.
int ourStep(int natural)
{
    const int u = natural % 8, v = natural / 8;
    return int(std::lround(16 * (1 + 3 * std::sqrt(double(u * u + v * v)) / 7)));
}

// An AC coefficient under 0.6 of its step is zero (plain rounding: 0.5).
// Rounding such values up costs bits that buy little. Measured on the
// quality benchmark's pictures with the tail trimming below, in bytes at
// equal SSIMULACRA2 / butteraugli / SSIM against mozjpeg: 0.6 needs
// -12.2 / -9.0 / -8.3 %, 0.5 -11.9 / -8.1 / -7.8, 0.65 -11.8 / -8.7 / -8.0,
// 0.7 -11.2 / -8.1 / -7.4.
constexpr std::uint32_t kDeadZoneTenths = 6;

// Our scaling (per cent) for a factor: libjpeg's up to factor 30, then
// growing by the same ratio each step to 500 % at 255 (steps 80 at DC,
// 255 from the middle frequencies on). Scaled further, as libjpeg's table
// is, every AC step would sit at 255 well before factor 255 and only the
// DC step would move: the size then wobbles with the DC's rounding
// instead of falling (on the quality benchmark's pictures, 440 steps up
// where the size grew, against 33 with this end).
double ourScale(int factor)
{
    constexpr double kFrom = 30, kTop = 500;
    factor = std::clamp(factor, kBestFactor, kStrongestFactor);
    if (factor <= kFrom)
        return quantScaleForFactor(factor);
    return kFrom * std::pow(kTop / kFrom, double(factor - kFrom) / (kStrongestFactor - kFrom));
}

// Where each AC step rounds up, past factor 30: a fraction of its own
// (the golden ratio's multiples, luma and chroma half a turn apart), so
// that a factor step coarsens a share of the steps every time. Rounded all
// at one point, the many steps of equal size move together at a few factors
// and barely at the others, where a Huffman table's or a stuffed byte's
// worth of noise then made the file grow (on the quality benchmark's
// pictures 12 steps up, to 3 with these points, at equal quality).
double roundingPoint(int table, int natural)
{
    return std::fmod((natural + 1) * 0.6180339887498949 + table * 0.5, 1.0);
}

QuantTables ourTables(int factor)
{
    const double scale = ourScale(factor);
    std::array<std::array<std::uint8_t, kBlock>, 2> natural{};
    for (int n = 0; n < 2; ++n)
        for (int i = 0; i < kBlock; ++i) {
            // Never finer than at factor 30, where the scaling changes.
            long step = std::lround(ourStep(i) * std::min(scale, 30.0) / 100);
            if (scale > 30)
                step = i == 0 ? std::lround(ourStep(i) * scale / 100)
                              : std::max(step, long(std::floor(ourStep(i) * scale / 100 + roundingPoint(n, i))));
            natural[n][i] = static_cast<std::uint8_t>(std::clamp(step, 1L, 255L));
        }
    return ourTablesWithSteps(natural);
}

} // namespace

QuantTables ourTablesWithSteps(const std::array<std::array<std::uint8_t, kBlock>, 2> &natural)
{
    QuantTables t;
    t.ours = true;
    t.natural = natural;
    for (int n = 0; n < 2; ++n)
        for (int k = 0; k < kBlock; ++k) {
            const std::uint32_t divisor = std::uint32_t(t.natural[n][kNatural[k]]) << 3;
            setDivisor(t.zigzag[n], k, divisor);
            if (k > 0)
                t.zigzag[n].zeroBelow[k] = static_cast<std::uint16_t>((divisor * kDeadZoneTenths + 9) / 10);
        }
    return t;
}

QuantTables quantTablesFor(int factor, Encoder encoder)
{
    return encoder == Encoder::Libjpeg ? libjpegTables(factor) : ourTables(factor);
}

std::uint64_t trimTail(const std::int16_t *coefs, const std::array<std::uint8_t, kBlock> &natural, std::int16_t *levels,
                       std::uint64_t nonzero)
{
    while (nonzero & ~std::uint64_t(1)) {
        const int k = 63 - __builtin_clzll(nonzero);
        if (levels[k] != 1 && levels[k] != -1)
            break;
        const int before = 63 - __builtin_clzll((nonzero & ((std::uint64_t(1) << k) - 1)) | 1);
        // Its code grows with the zeros before it; its sign is one more bit;
        // the last coefficient of all saves an end-of-block code.
        const int bits = std::min(2 + (k - before - 1), 11) + 1 - (k == kBlock - 1 ? 3 : 0);
        // Zeroing a coefficient c of step D adds (2|c|/D - 1) squared steps
        // of error: it goes when that is under bits / 10.
        const std::int64_t divisor = std::int64_t(natural[kNatural[k]]) * 8;
        if (20 * std::int64_t(std::abs(coefs[k])) >= (10 + bits) * divisor)
            break;
        levels[k] = 0;
        nonzero &= ~(std::uint64_t(1) << k);
    }
    return nonzero;
}

std::uint64_t quantizeBlock(const std::int16_t *coefs, const QuantTables &q, int table, std::int16_t *levels)
{
    const std::uint64_t nonzero = trialKernels().quantize(coefs, q.zigzag[table], levels);
    return q.ours ? trimTail(coefs, q.natural[table], levels, nonzero) : nonzero;
}

} // namespace tovalin::detail
