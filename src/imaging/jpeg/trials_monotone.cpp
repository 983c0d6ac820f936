#include "imaging/jpeg/trials_monotone.h"

#include "common/helpers.h"
#include "imaging/jpeg/trials_huffman.h"

#include <algorithm>
#include <numeric>

namespace tovalin::detail {

DcSteps::DcSteps(const Coefficients &p)
{
    const std::size_t blocks = std::size_t(p.mcusAcross) * p.mcusDown * kBlocksPerMcu;
    m_dc.resize(blocks);
    for (std::size_t b = 0; b < blocks; ++b)
        m_dc[b] = p.coefs[b * kBlock];
}

// The DC scan at one step: each difference's size and low bits, and the
// two tables of their sizes.
struct DcSteps::Scan {
    std::vector<std::uint32_t> coded; // size << 16 | low bits; empty when only counted
    std::array<HuffTable, 2> tables;
    std::int64_t bits = 0;   // the data's bits, before padding and stuffing
    std::int64_t tableBytes = 0; // the two table markers
};

DcSteps::Scan DcSteps::scan(int step, bool keepCodes) const
{
    // The levels as the quantiser makes them, and their differences per
    // component as the scan codes them: four luma blocks, then Cb and Cr,
    // each MCU.
    Quantizer q{};
    setDivisor(q, 0, std::uint32_t(step) << 3);
    const std::uint32_t correction = q.correction[0], reciprocal = q.reciprocal[0];
    const int shift = q.shift[0];
    Scan scan;
    if (keepCodes)
        scan.coded.resize(m_dc.size());
    std::array<std::array<long, 257>, 2> counts{};
    std::int32_t last[3] = {};
    const auto code = [&](std::size_t b, int component, int table) {
        const std::int32_t c = m_dc[b];
        const auto magnitude = std::int32_t((std::uint32_t(c < 0 ? -c : c) + correction) * reciprocal >> shift);
        const std::int32_t level = c < 0 ? -magnitude : magnitude;
        const std::int32_t diff = level - last[component];
        last[component] = level;
        const int size = bitCount(std::uint32_t(diff < 0 ? -diff : diff));
        ++counts[table][size];
        if (keepCodes)
            scan.coded[b] = std::uint32_t(size) << 16 | (std::uint32_t(diff < 0 ? diff - 1 : diff) & ((1u << size) - 1));
    };
    for (std::size_t mcu = 0; mcu < m_dc.size(); mcu += kBlocksPerMcu) {
        for (int y = 0; y < 4; ++y)
            code(mcu + y, 0, 0);
        code(mcu + 4, 1, 1);
        code(mcu + 5, 2, 1);
    }
    scan.tables = {optimalTable(counts[0]), optimalTable(counts[1])};
    for (int t = 0; t < 2; ++t)
        for (int s = 0; s < 256; ++s)
            scan.bits += counts[t][s] * (scan.tables[t].size[s] + s);
    scan.tableBytes = 2 * 4 + dhtBody(0x00, scan.tables[0]).size() + dhtBody(0x01, scan.tables[1]).size();
    return scan;
}

std::int64_t DcSteps::bytesBeforeStuffing(int step) const
{
    const Scan s = scan(step, false);
    return s.tableBytes + (s.bits + 7) / 8;
}

std::int64_t DcSteps::scanBytes(int step) const
{
    // Written out by the scans' own bit writer, for the stuffed bytes and
    // the padding exactly as the file has them.
    const Scan s = scan(step, true);
    QByteArray data;
    data.reserve(qsizetype(s.bits / 8 + s.bits / 2048 + 64));
    BitWriter writer(data);
    for (std::size_t b = 0; b < s.coded.size(); ++b) {
        const HuffTable &table = s.tables[b % kBlocksPerMcu < 4 ? 0 : 1];
        const int size = int(s.coded[b] >> 16);
        writer.reserveBlock();
        writer.put(std::uint64_t(table.code[size]) << size | (s.coded[b] & 0xFFFF), table.size[size] + size);
    }
    writer.finish();
    return s.tableBytes + data.size();
}

void DcSteps::measure(int nominal)
{
    for (int step = m_claimed.load(); step < nominal;) {
        if (!m_claimed.compare_exchange_weak(step, step + 1))
            continue;
        m_lower[step + 1] = bytesBeforeStuffing(step + 1);
        // Waiters check under the lock: taking it here means none misses this step.
        {
            std::lock_guard lock(m_mutex);
        }
        m_measured.notify_all();
        step = m_claimed.load();
    }
}

int DcSteps::best(int nominal)
{
    nominal = std::clamp(nominal, 1, 255);
    {
        Helper beside([this, nominal] { measure(nominal); }, Helper::Optional);
        measure(nominal);
    }
    std::unique_lock lock(m_mutex);
    m_measured.wait(lock, [&] {
        for (int step = 1; step <= nominal; ++step)
            if (m_lower[step] == 0)
                return false;
        return true;
    });
    // Stuffing only adds bytes: a step whose count before it exceeds the
    // shortest exact length found cannot be shorter. So exact lengths are
    // counted in order of that lower bound, only while it can still win.
    std::array<int, 256> order;
    std::iota(order.begin(), order.begin() + nominal, 1);
    std::sort(order.begin(), order.begin() + nominal, [this](int a, int b) {
        return m_lower[a] != m_lower[b] ? m_lower[a] < m_lower[b] : a > b;
    });
    int best = 0;
    for (int i = 0; i < nominal; ++i) {
        const int step = order[i];
        if (best > 0 && m_lower[step] > m_exact[best])
            break;
        if (m_exact[step] == 0)
            m_exact[step] = scanBytes(step);
        if (best == 0 || m_exact[step] < m_exact[best] || (m_exact[step] == m_exact[best] && step > best))
            best = step;
    }
    return best;
}

std::int64_t ShortestFiner::lowerAt(int factor, const SizeAt &lower)
{
    if (const std::int64_t exact = m_sizes[std::size_t(factor)].load(std::memory_order_relaxed))
        return exact;
    std::int64_t bytes = m_lower[std::size_t(factor)].load(std::memory_order_relaxed);
    if (bytes == 0)
        m_lower[std::size_t(factor)].store(bytes = lower(factor), std::memory_order_relaxed);
    return bytes;
}

int ShortestFiner::factorFor(int factor, const Measures &measure)
{
    const auto size = [&](int f) {
        std::int64_t bytes = m_sizes[std::size_t(f)].load(std::memory_order_relaxed);
        if (bytes == 0)
            record(f, bytes = measure.size(f));
        return bytes;
    };
    int best = factor;
    std::int64_t shortest = size(factor);
    for (int f = factor - 1; f >= kBestFactor; --f) {
        // Stuffing only adds bytes: a bound over the shortest cannot win.
        const std::int64_t atLeast = lowerAt(f, measure.lower);
        const std::int64_t bytes = atLeast <= shortest ? size(f) : atLeast;
        if (bytes <= shortest) {
            best = f;
            shortest = bytes;
        } else if (!m_every && bytes > shortest + margin(shortest)) {
            break;
        }
    }
    return best;
}

QuantTables withDcStep(const QuantTables &tables, int step)
{
    std::array<std::array<std::uint8_t, kBlock>, 2> natural = tables.natural;
    natural[0][0] = natural[1][0] = std::uint8_t(step);
    return ourTablesWithSteps(natural);
}

} // namespace tovalin::detail
