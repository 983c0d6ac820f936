#include "imaging/resample.h"
#include "imaging/resample_internal.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <thread>
#include <vector>

namespace tovalin {
namespace detail {

namespace {

constexpr double kSupport = 2.0;

double bicubic(double x)
{
    constexpr double a = -0.5;
    if (x < 0.0)
        x = -x;
    if (x < 1.0)
        return ((a + 2.0) * x - (a + 3.0)) * x * x + 1;
    if (x < 2.0)
        return (((x - 5) * x + 8) * x - 4) * a;
    return 0.0;
}

} // namespace

AxisCoefficients precomputeCoefficients(int inSize, int outSize)
{
    // The box is the whole source, given as single precision like the reference.
    const float in0 = 0.0f;
    const float in1 = static_cast<float>(inSize);
    const double scale = static_cast<double>(in1 - in0) / outSize;
    const double filterScale = std::max(scale, 1.0); // widen the support when reducing
    const double support = kSupport * filterScale;

    AxisCoefficients c;
    c.ksize = static_cast<int>(std::ceil(support)) * 2 + 1;
    if (static_cast<std::size_t>(outSize) > std::numeric_limits<std::size_t>::max() / 8 / c.ksize)
        throw std::bad_alloc();
    c.first.resize(outSize);
    c.count.resize(outSize);
    c.weights.assign(static_cast<std::size_t>(outSize) * c.ksize, 0);

    std::vector<double> k(c.ksize);
    for (int xx = 0; xx < outSize; ++xx) {
        const double center = in0 + (xx + 0.5) * scale;
        const double ss = 1.0 / filterScale;
        const int xmin = std::max(static_cast<int>(center - support + 0.5), 0);
        const int xmax = std::min(static_cast<int>(center + support + 0.5), inSize) - xmin;
        double ww = 0.0;
        for (int x = 0; x < xmax; ++x) {
            const double w = bicubic((x + xmin - center + 0.5) * ss);
            k[x] = w;
            ww += w;
        }
        std::int32_t *out = &c.weights[static_cast<std::size_t>(xx) * c.ksize];
        for (int x = 0; x < xmax; ++x) {
            const double w = ww != 0.0 ? k[x] / ww : k[x];
            out[x] = w < 0 ? static_cast<std::int32_t>(-0.5 + w * (1 << kPrecisionBits))
                           : static_cast<std::int32_t>(0.5 + w * (1 << kPrecisionBits));
        }
        c.first[xx] = xmin;
        c.count[xx] = xmax;
    }
    return c;
}

SplitHorizontalTable splitHorizontal(const AxisCoefficients &c, int inSize)
{
    SplitHorizontalTable t;
    const int outSize = static_cast<int>(c.first.size());
    int maxCount = 0;
    for (int n : c.count)
        maxCount = std::max(maxCount, n);
    const int groups = (maxCount + 3) / 4;
    if (groups * 4 > inSize)
        return t;
    t.groups = groups;
    t.start.resize(outSize);
    t.lanes.assign(static_cast<std::size_t>(outSize) * groups * 32, 0);
    for (int xx = 0; xx < outSize; ++xx) {
        // Keep the four-pixel loads inside the row: slide the window left at
        // the right edge and shift the weights to match.
        const int start = std::min(c.first[xx], inSize - groups * 4);
        const int shift = c.first[xx] - start;
        t.start[xx] = start;
        const std::int32_t *w = &c.weights[static_cast<std::size_t>(xx) * c.ksize];
        std::int16_t *lanes = &t.lanes[static_cast<std::size_t>(xx) * groups * 32];
        for (int tap = 0; tap < c.count[xx]; ++tap) {
            const int pos = tap + shift;
            const int group = pos / 4;
            const int inGroup = pos % 4;
            const int half = inGroup / 2; // which 128-bit half
            const int pair = inGroup % 2; // first or second pixel of the pair
            std::int16_t *low = lanes + group * 32 + half * 8;
            std::int16_t *high = low + 16;
            for (int channel = 0; channel < 3; ++channel) {
                low[channel * 2 + pair] = weightLow(w[tap]);
                high[channel * 2 + pair] = weightHigh(w[tap]);
            }
        }
    }
    return t;
}

void horizontalPortable(const PassArgs &a, int rowBegin, int rowEnd)
{
    const AxisCoefficients &c = *a.coeffs;
    for (int yy = rowBegin; yy < rowEnd; ++yy) {
        const std::uint8_t *in = a.src + (yy + a.rowOffset) * a.srcStride;
        std::uint8_t *out = a.dst + yy * a.dstStride;
        for (int xx = 0; xx < a.dstWidth; ++xx) {
            const std::uint8_t *p = in + c.first[xx] * 3;
            const std::int32_t *k = &c.weights[static_cast<std::size_t>(xx) * c.ksize];
            int s0 = 1 << (kPrecisionBits - 1), s1 = s0, s2 = s0;
            for (int x = 0; x < c.count[xx]; ++x, p += 3) {
                s0 += p[0] * k[x];
                s1 += p[1] * k[x];
                s2 += p[2] * k[x];
            }
            out[xx * 3 + 0] = clip8(s0);
            out[xx * 3 + 1] = clip8(s1);
            out[xx * 3 + 2] = clip8(s2);
        }
    }
}

void verticalPortable(const PassArgs &a, int rowBegin, int rowEnd)
{
    const AxisCoefficients &c = *a.coeffs;
    const int bytes = a.dstWidth * 3;
    std::vector<int> acc(bytes);
    for (int yy = rowBegin; yy < rowEnd; ++yy) {
        const std::int32_t *k = &c.weights[static_cast<std::size_t>(yy) * c.ksize];
        std::fill(acc.begin(), acc.end(), 1 << (kPrecisionBits - 1));
        for (int y = 0; y < c.count[yy]; ++y) {
            const std::uint8_t *in = a.src + (c.first[yy] + a.rowOffset + y) * a.srcStride;
            const int w = k[y];
            for (int x = 0; x < bytes; ++x)
                acc[x] += in[x] * w;
        }
        std::uint8_t *out = a.dst + yy * a.dstStride;
        for (int x = 0; x < bytes; ++x)
            out[x] = clip8(acc[x]);
    }
}

} // namespace detail

bool cpuHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

namespace {

using Pass = void (*)(const detail::PassArgs &, int, int);

// Share the rows of a pass among threads; small passes stay on this one.
void runPass(Pass pass, const detail::PassArgs &args, int rows, long long tapsPerRow, int threads)
{
    constexpr long long kMinWorkPerThread = 1 << 20;
    const long long work = tapsPerRow * rows;
    const int n = static_cast<int>(std::clamp<long long>(work / kMinWorkPerThread, 1, threads));
    if (n <= 1) {
        pass(args, 0, rows);
        return;
    }
    std::vector<std::thread> helpers;
    for (int i = 1; i < n; ++i)
        helpers.emplace_back(pass, std::cref(args), rows * i / n, rows * (i + 1) / n);
    pass(args, 0, rows / n);
    for (std::thread &t : helpers)
        t.join();
}

} // namespace

bool resampleBicubic(const RgbView &src, const RgbView &dst, ResampleKernel kernel, int threads)
{
    using namespace detail;
    if (!src.data || !dst.data || src.width < 1 || src.height < 1 || dst.width < 1 || dst.height < 1)
        return false;
    const bool avx2 = kernel == ResampleKernel::Avx2 || (kernel == ResampleKernel::Auto && cpuHasAvx2());
    if (threads < 1)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    try {
        const bool needHorizontal = dst.width != src.width;
        const bool needVertical = dst.height != src.height;
        const AxisCoefficients horiz = precomputeCoefficients(src.width, dst.width);
        const AxisCoefficients vert = precomputeCoefficients(src.height, dst.height);

        // Only the source rows the vertical pass will read go through the
        // horizontal pass.
        const int firstRow = vert.first.front();
        const int lastRow = vert.first.back() + vert.count.back();

        const std::uint8_t *vSrc = src.data;
        std::ptrdiff_t vStride = src.stride;
        int vRowOffset = 0;
        std::vector<std::uint8_t> temp;

        if (needHorizontal) {
            const int rows = needVertical ? lastRow - firstRow : src.height;
            std::uint8_t *out = dst.data;
            std::ptrdiff_t outStride = dst.stride;
            if (needVertical) {
                temp.resize(static_cast<std::size_t>(rows) * dst.width * 3);
                out = temp.data();
                outStride = static_cast<std::ptrdiff_t>(dst.width) * 3;
            }
            SplitHorizontalTable split;
            if (avx2)
                split = splitHorizontal(horiz, src.width);
            const bool useAvx2 = avx2 && split.groups > 0;
            const PassArgs args{src.data, src.stride, src.width, out, outStride, dst.width,
                                needVertical ? firstRow : 0, &horiz, &split};
            runPass(useAvx2 ? horizontalAvx2 : horizontalPortable, args, rows,
                    static_cast<long long>(dst.width) * horiz.ksize, threads);
            if (!needVertical)
                return true;
            vSrc = temp.data();
            vStride = outStride;
            vRowOffset = -firstRow;
        }
        if (needVertical) {
            const PassArgs args{vSrc, vStride, dst.width, dst.data, dst.stride, dst.width,
                                vRowOffset, &vert, nullptr};
            runPass(avx2 ? verticalAvx2 : verticalPortable, args, dst.height,
                    static_cast<long long>(dst.width) * vert.ksize, threads);
            return true;
        }
        for (int y = 0; y < dst.height; ++y)
            std::copy_n(src.data + y * src.stride, src.width * 3, dst.data + y * dst.stride);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace tovalin
