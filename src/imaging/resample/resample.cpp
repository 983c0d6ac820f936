#include "imaging/resample/resample.h"

#include "common/cpufeatures.h"
#include "common/helpers.h"
#include "imaging/resample/resample_internal.h"

#include <algorithm>
#include <memory>
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
        if ((start + groups * 4) * 3 + 4 <= inSize * 3)
            t.wideLoads = xx + 1; // starts never decrease: the safe pixels come first
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

void horizontalRowPortable(const std::uint8_t *in, std::uint8_t *out, int outWidth,
                           const AxisCoefficients &c, const SplitHorizontalTable &)
{
    for (int xx = 0; xx < outWidth; ++xx) {
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

void verticalRowPortable(const std::uint8_t *const *rows, int n, const std::int32_t *k,
                         std::uint8_t *out, int bytes)
{
    // Row after row over an accumulator line, so each source row is read in order.
    thread_local std::vector<int> acc;
    acc.assign(bytes, 1 << (kPrecisionBits - 1));
    for (int y = 0; y < n; ++y) {
        const std::uint8_t *in = rows[y];
        const int w = k[y];
        for (int x = 0; x < bytes; ++x)
            acc[x] += in[x] * w;
    }
    for (int x = 0; x < bytes; ++x)
        out[x] = clip8(acc[x]);
}

} // namespace detail

namespace {

using namespace detail;

struct Plan {
    RgbView src;
    RgbView dst;
    const AxisCoefficients *horiz; // null: the width stays
    const AxisCoefficients *vert;  // null: the height stays
    const SplitHorizontalTable *split;
    HorizontalRow horizontalRow;
    HorizontalRowPair horizontalRowPair; // null: one row at a time
    VerticalRow verticalRow;
};

// Output rows [begin, end). The horizontal pass feeds a small ring of
// intermediate rows, each computed once as the vertical window slides down,
// so no full-height intermediate image is ever allocated.
void resampleRows(const Plan &p, int begin, int end)
{
    const int bytes = p.dst.width * 3;
    const std::ptrdiff_t srcStride = p.src.stride;
    if (!p.vert) {
        for (int y = begin; y < end; ++y)
            p.horizontalRow(p.src.data + y * srcStride, p.dst.data + y * p.dst.stride, p.dst.width, *p.horiz, *p.split);
        return;
    }
    const AxisCoefficients &v = *p.vert;
    std::vector<const std::uint8_t *> rows(v.ksize);
    int capacity = 0;
    for (int y = begin; y < end; ++y)
        capacity = std::max(capacity, v.count[y]);
    std::vector<std::uint8_t> ring(p.horiz ? static_cast<std::size_t>(capacity) * bytes : 0);
    int nextRow = v.first[begin]; // first source row not yet in the ring
    for (int yy = begin; yy < end; ++yy) {
        const int first = v.first[yy];
        const int n = v.count[yy];
        if (p.horiz) {
            const auto slot = [&](int row) { return &ring[static_cast<std::size_t>(row % capacity) * bytes]; };
            for (nextRow = std::max(nextRow, first); nextRow < first + n;) {
                if (p.horizontalRowPair && nextRow + 1 < first + n) {
                    p.horizontalRowPair(p.src.data + nextRow * srcStride, p.src.data + (nextRow + 1) * srcStride,
                                          slot(nextRow), slot(nextRow + 1), p.dst.width, *p.split);
                    nextRow += 2;
                } else {
                    p.horizontalRow(p.src.data + nextRow * srcStride, slot(nextRow), p.dst.width, *p.horiz, *p.split);
                    ++nextRow;
                }
            }
            for (int i = 0; i < n; ++i)
                rows[i] = &ring[static_cast<std::size_t>((first + i) % capacity) * bytes];
        } else {
            for (int i = 0; i < n; ++i)
                rows[i] = p.src.data + (first + i) * srcStride;
        }
        p.verticalRow(rows.data(), n, &v.weights[static_cast<std::size_t>(yy) * v.ksize],
                      p.dst.data + yy * p.dst.stride, bytes);
    }
}

} // namespace

bool resampleBicubic(const RgbView &src, const RgbView &dst, ResampleKernel kernel, int threads)
{
    if (!src.data || !dst.data || src.width < 1 || src.height < 1 || dst.width < 1 || dst.height < 1)
        return false;
    const bool avx2 = kernel == ResampleKernel::Avx2 || (kernel == ResampleKernel::Auto && useAvx2());
    if (threads < 1)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    try {
        if (dst.width == src.width && dst.height == src.height) {
            for (int y = 0; y < dst.height; ++y)
                std::copy_n(src.data + y * src.stride, src.width * 3, dst.data + y * dst.stride);
            return true;
        }
        AxisCoefficients horiz, vert;
        SplitHorizontalTable split;
        if (dst.width != src.width) {
            horiz = precomputeCoefficients(src.width, dst.width);
            if (avx2)
                split = splitHorizontal(horiz, src.width);
        }
        if (dst.height != src.height)
            vert = precomputeCoefficients(src.height, dst.height);
        const bool avx2Horizontal = avx2 && split.groups > 0;
        const Plan plan{src, dst,
                        dst.width != src.width ? &horiz : nullptr,
                        dst.height != src.height ? &vert : nullptr,
                        &split,
                        avx2Horizontal ? horizontalRowAvx2 : horizontalRowPortable,
                        avx2Horizontal ? horizontalRowPairAvx2 : nullptr,
                        avx2 ? verticalRowAvx2 : verticalRowPortable};

        // Share the output rows among threads once there is enough work.
        constexpr double kMinTapsPerThread = 1 << 21;
        const double taps = static_cast<double>(dst.height) * dst.width
                            * ((plan.horiz ? horiz.ksize * (plan.vert ? static_cast<double>(src.height) / dst.height : 1.0) : 0.0)
                               + (plan.vert ? vert.ksize : 0));
        const int n = static_cast<int>(std::clamp(taps / kMinTapsPerThread, 1.0, static_cast<double>(std::min(threads, dst.height))));
        std::vector<std::unique_ptr<Helper>> helpers;
        for (int i = 1; i < n; ++i)
            helpers.push_back(std::make_unique<Helper>(
                [&plan, first = dst.height * i / n, end = dst.height * (i + 1) / n] { resampleRows(plan, first, end); }));
        resampleRows(plan, 0, dst.height / n);
        for (const auto &h : helpers)
            h->wait();
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace tovalin
