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
    RgbView src; // for a stream only the size is known
    RgbView dst;
    const AxisCoefficients *horiz; // null: the width stays
    const AxisCoefficients *vert;  // null: the height stays
    const SplitHorizontalTable *split;
    HorizontalRow horizontalRow;
    HorizontalRowPair horizontalRowPair; // null: one row at a time
    VerticalRow verticalRow;
};

// The tables a plan points into.
struct Tables {
    AxisCoefficients horiz;
    AxisCoefficients vert;
    SplitHorizontalTable split;
};

bool wantsAvx2(ResampleKernel kernel) { return kernel == ResampleKernel::Avx2 || (kernel == ResampleKernel::Auto && useAvx2()); }

// Throws std::bad_alloc when the tables would not fit in memory.
Plan planFor(const RgbView &src, const RgbView &dst, bool avx2, Tables &t)
{
    if (dst.width != src.width) {
        t.horiz = precomputeCoefficients(src.width, dst.width);
        if (avx2)
            t.split = splitHorizontal(t.horiz, src.width);
    }
    if (dst.height != src.height)
        t.vert = precomputeCoefficients(src.height, dst.height);
    const bool avx2Horizontal = avx2 && t.split.groups > 0;
    return Plan{src, dst,
                dst.width != src.width ? &t.horiz : nullptr,
                dst.height != src.height ? &t.vert : nullptr,
                &t.split,
                avx2Horizontal ? horizontalRowAvx2 : horizontalRowPortable,
                avx2Horizontal ? horizontalRowPairAvx2 : nullptr,
                avx2 ? verticalRowAvx2 : verticalRowPortable};
}

// Output rows [begin, end) from source rows given in order. Each source row
// is turned into an intermediate row of the output width as it comes, into a
// small ring, and each output row is weighed as soon as its window is
// complete: neither a full-height intermediate nor (for a decoder feeding
// rows) the full source is ever held.
class RowStream {
public:
    RowStream(const Plan &p, int begin, int end) : m_p(p), m_next(begin), m_end(end)
    {
        if (!p.vert) {
            m_firstRow = m_nextRow = begin;
            m_endRow = end;
            return;
        }
        const AxisCoefficients &v = *p.vert;
        m_firstRow = v.first[begin];
        int most = 0;
        for (int y = begin; y < end; ++y) {
            m_endRow = std::max(m_endRow, v.first[y] + v.count[y]);
            most = std::max(most, v.count[y]);
        }
        // One slot more than a window: a pair of rows may land before the
        // window that ends at the first of them is weighed.
        m_capacity = most + 1;
        m_slots.resize(m_capacity);
        m_rows.resize(v.ksize);
        m_bytes = p.dst.width * 3;
        m_ring.resize(static_cast<std::size_t>(m_capacity) * m_bytes);
        m_nextRow = m_firstRow;
    }

    int firstRow() const { return m_firstRow; }
    int endRow() const { return m_endRow; }

    // The next `count` source rows, `stride` bytes apart. Rows that `stay`
    // valid after the call are weighed where they are when the width stays.
    void push(const std::uint8_t *rows, int count, std::ptrdiff_t stride, bool stay)
    {
        count = std::min(count, m_endRow - m_nextRow);
        const int base = m_nextRow;
        if (!m_p.vert) {
            widthPass(rows, count, stride, [&](int i) { return m_p.dst.data + (m_next + i) * m_p.dst.stride; },
                      [&](int) {});
            m_next += count;
            m_nextRow += count;
        } else if (!m_p.horiz && stay) {
            for (int i = 0; i < count; ++i) {
                m_slots[m_nextRow++ % m_capacity] = rows + i * stride;
                weighReady();
            }
        } else {
            widthPass(rows, count, stride, [&](int i) { return slot(base + i); }, [&](int step) {
                m_nextRow += step;
                weighReady();
            });
        }
    }

private:
    std::uint8_t *slot(int row)
    {
        std::uint8_t *at = &m_ring[static_cast<std::size_t>(row % m_capacity) * m_bytes];
        m_slots[row % m_capacity] = at;
        return at;
    }

    // Turns `count` source rows into rows of the output width, two at a
    // time where the pair kernel runs (a copy where the width stays),
    // writing row i to to(i); after(step) follows each step.
    template <typename To, typename After>
    void widthPass(const std::uint8_t *rows, int count, std::ptrdiff_t stride, const To &to, const After &after)
    {
        for (int i = 0; i < count;) {
            const std::uint8_t *row = rows + i * stride;
            int step = 1;
            if (!m_p.horiz) {
                std::copy_n(row, m_p.dst.width * 3, to(i));
            } else if (m_p.horizontalRowPair && i + 1 < count) {
                m_p.horizontalRowPair(row, row + stride, to(i), to(i + 1), m_p.dst.width, *m_p.split);
                step = 2;
            } else {
                m_p.horizontalRow(row, to(i), m_p.dst.width, *m_p.horiz, *m_p.split);
            }
            i += step;
            after(step);
        }
    }

    void weighReady()
    {
        const AxisCoefficients &v = *m_p.vert;
        for (; m_next < m_end && v.first[m_next] + v.count[m_next] <= m_nextRow; ++m_next) {
            const int first = v.first[m_next];
            const int n = v.count[m_next];
            for (int i = 0; i < n; ++i)
                m_rows[i] = m_slots[(first + i) % m_capacity];
            m_p.verticalRow(m_rows.data(), n, &v.weights[static_cast<std::size_t>(m_next) * v.ksize],
                            m_p.dst.data + m_next * m_p.dst.stride, m_bytes);
        }
    }

    Plan m_p;
    int m_next;     // the next output row
    int m_end;
    int m_firstRow = 0;
    int m_endRow = 0;
    int m_nextRow = 0; // the next source row expected
    int m_capacity = 0;
    int m_bytes = 0;
    std::vector<std::uint8_t> m_ring;
    std::vector<const std::uint8_t *> m_slots; // where each ring slot's row is
    std::vector<const std::uint8_t *> m_rows;
};

void resampleRows(const Plan &p, int begin, int end)
{
    RowStream stream(p, begin, end);
    stream.push(p.src.data + stream.firstRow() * p.src.stride, stream.endRow() - stream.firstRow(), p.src.stride, true);
}

} // namespace

bool resampleBicubic(const RgbView &src, const RgbView &dst, ResampleKernel kernel, int threads)
{
    if (!src.data || !dst.data || src.width < 1 || src.height < 1 || dst.width < 1 || dst.height < 1)
        return false;
    if (threads < 1)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    try {
        if (dst.width == src.width && dst.height == src.height) {
            for (int y = 0; y < dst.height; ++y)
                std::copy_n(src.data + y * src.stride, src.width * 3, dst.data + y * dst.stride);
            return true;
        }
        Tables tables;
        const Plan plan = planFor(src, dst, wantsAvx2(kernel), tables);

        // Share the output rows among threads once there is enough work.
        constexpr double kMinTapsPerThread = 1 << 21;
        const double taps = static_cast<double>(dst.height) * dst.width
                            * ((plan.horiz ? tables.horiz.ksize * (plan.vert ? static_cast<double>(src.height) / dst.height : 1.0) : 0.0)
                               + (plan.vert ? tables.vert.ksize : 0));
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

struct RowResampler::State {
    Tables tables;
    Plan plan;
    RowStream stream;
    State(const RgbView &src, const RgbView &dst, int begin, int end, bool avx2)
        : plan(planFor(src, dst, avx2, tables)), stream(plan, begin, end)
    {
    }
};

RowResampler::RowResampler(int srcWidth, int srcHeight, const RgbView &dst, int begin, int end, ResampleKernel kernel)
{
    if (srcWidth < 1 || srcHeight < 1 || !dst.data || dst.width < 1 || dst.height < 1 || begin < 0 || end > dst.height || begin >= end)
        return;
    try {
        m = std::make_unique<State>(RgbView{nullptr, srcWidth, srcHeight, 0}, dst, begin, end, wantsAvx2(kernel));
    } catch (const std::bad_alloc &) {
        m.reset();
    }
}

RowResampler::~RowResampler() = default;

int RowResampler::firstRow() const { return m ? m->stream.firstRow() : 0; }
int RowResampler::endRow() const { return m ? m->stream.endRow() : 0; }

void RowResampler::push(const std::uint8_t *rows, int count, std::ptrdiff_t stride)
{
    if (m)
        m->stream.push(rows, count, stride, false);
}

} // namespace tovalin
