#include "imaging/jpeg/jpegtrials.h"

#include "common/helpers.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/trials_monotone.h"
#include "imaging/jpeg/trials_dering.h"
#include "imaging/jpeg/trials_huffman.h"
#include "imaging/jpeg/trials_kernels.h"
#include "imaging/jpeg/trials_scans.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace tovalin {

namespace {

using namespace detail;

// Runs through every block of the scan, quantised, telling `visit` the
// component's table (0 luma, 1 chroma), the DC difference, the block and
// which of its coefficients are not zero.
template <typename Visit>
void forEachBlock(const std::int16_t *coefs, std::size_t mcus, const QuantTables &q, Visit visit)
{
    std::array<std::int32_t, 3> lastDc{};
    alignas(32) std::int16_t block[kBlock];
    const std::int16_t *in = coefs;
    for (std::size_t m = 0; m < mcus; ++m) {
        for (int b = 0; b < kBlocksPerMcu; ++b, in += kBlock) {
            const int component = b < 4 ? 0 : b - 3;
            const int table = component == 0 ? 0 : 1;
            const std::uint64_t nonzero = quantizeBlock(in, q, table, block);
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

} // namespace

JpegTrials::JpegTrials(const QImage &rgb888, Encoder encoder) : m_encoder(encoder)
{
    if (rgb888.isNull() || rgb888.format() != QImage::Format_RGB888 || rgb888.width() > kMaxJpegSide
        || rgb888.height() > kMaxJpegSide)
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

    const TrialKernels &kernels = trialKernels();
    const bool dering = m_encoder != Encoder::Libjpeg; // ours reshapes clipped runs
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
                    kernels.rgbRowToYcc(rgb, m_width, yRow, cbRow, crRow);
                    std::fill(yRow + m_width, yRow + lumaStride, yRow[m_width - 1]);
                    std::fill(cbRow + m_width, cbRow + fullChromaStride, cbRow[m_width - 1]);
                    std::fill(crRow + m_width, crRow + fullChromaStride, crRow[m_width - 1]);
                }
                kernels.downsampleRow(cbFull.data(), cbFull.data() + fullChromaStride, chromaStride, &cb[std::size_t(pair) * chromaStride]);
                kernels.downsampleRow(crFull.data(), crFull.data() + fullChromaStride, chromaStride, &cr[std::size_t(pair) * chromaStride]);
            }
            for (int mx = 0; mx < m_mcusAcross; ++mx) {
                std::int16_t *mcu = &m_coefs.get()[(std::size_t(my) * m_mcusAcross + mx) * kBlocksPerMcu * kBlock];
                for (int b = 0; b < 4; ++b) {
                    const int bx = mx * 2 + (b & 1), by = my * 2 + (b >> 1);
                    std::int16_t *out = mcu + b * kBlock;
                    if (bx < lumaBlocksAcross && by < lumaBlocksDown) {
                        const std::uint8_t *samples = &luma[std::size_t((b >> 1) * 8) * lumaStride + bx * 8];
                        std::int32_t shifted[kBlock];
                        if (dering && deringBlock(samples, lumaStride, shifted))
                            forwardDctShifted(shifted, out);
                        else
                            kernels.forwardDct(samples, lumaStride, out);
                        continue;
                    }
                    // Padding blocks: no detail, the DC of the block before
                    // (right edge) or of the MCU's upper right block (bottom).
                    std::fill(out, out + kBlock, std::int16_t(0));
                    out[0] = bx >= lumaBlocksAcross && by < lumaBlocksDown ? out[-kBlock] : mcu[kBlock];
                }
                kernels.forwardDct(&cb[mx * 8], chromaStride, mcu + 4 * kBlock);
                kernels.forwardDct(&cr[mx * 8], chromaStride, mcu + 5 * kBlock);
            }
        }
    };
    // Both cores take half of the MCU rows.
    const int half = m_mcusDown / 2;
    Helper other([&] { mcuRows(half, m_mcusDown); });
    mcuRows(0, half);
    other.wait();
    if (m_encoder != Encoder::Libjpeg) {
        m_dcSteps = std::make_unique<DcSteps>(coefficients());
        m_finer = std::make_unique<ShortestFiner>(std::int64_t(m_mcusAcross) * m_mcusDown);
    }
}

JpegTrials::~JpegTrials() = default;

detail::Coefficients JpegTrials::coefficients() const
{
    return {m_width, m_height, m_mcusAcross, m_mcusDown, m_coefs.get()};
}

std::int64_t JpegTrials::estimateSize(int factor) const
{
    if (!ok())
        return 0;
    const QuantTables q = quantTablesFor(factor, m_encoder);
    // Every step-th MCU row, whole rows so the DC differences stay as coded.
    const int step = (m_mcusDown + kEstimateRows - 1) / kEstimateRows;
    if (m_encoder == Encoder::Tovalin)
        return progressiveEstimate(coefficients(), q, step);
    Counts all;
    int rows = 0;
    for (int row = 0; row < m_mcusDown; row += step, ++rows)
        countSymbols(&m_coefs.get()[std::size_t(row) * m_mcusAcross * kBlocksPerMcu * kBlock],
                     std::size_t(m_mcusAcross), q, all);
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
    factor = std::clamp(factor, kBestFactor, kStrongestFactor);
    if (!m_finer)
        return encodeAt(factor);
    // The next finer factor's bound, which the choice almost always stops
    // at, is counted on a core to spare while this one is encoded.
    Helper finer(
        [this, factor] {
            if (factor > kBestFactor)
                lowerAt(factor - 1);
        },
        Helper::Optional);
    QByteArray bytes = encodeAt(factor);
    finer.wait();
    const int f = fileFactor(factor);
    return f == factor ? bytes : encodeAt(f);
}

QByteArray JpegTrials::encodeWithin(int factor, std::int64_t limit) const
{
    if (!ok())
        return {};
    factor = std::clamp(factor, kBestFactor, kStrongestFactor);
    QByteArray bytes = encodeAt(factor);
    if (!m_finer || !m_finer->searchLooksFiner(bytes.size(), limit))
        return bytes;
    const int f = fileFactor(factor);
    return f == factor ? bytes : encodeAt(f);
}

int JpegTrials::fileFactor(int factor) const
{
    factor = std::clamp(factor, kBestFactor, kStrongestFactor);
    if (!m_finer)
        return factor;
    return m_finer->factorFor(factor, {[this](int f) { return std::int64_t(encodeAt(f).size()); },
                                       [this](int f) { return lowerAt(f); }});
}

std::int64_t JpegTrials::fileSize(int factor) const
{
    if (!ok())
        return 0;
    factor = std::clamp(factor, kBestFactor, kStrongestFactor);
    if (!m_finer)
        return encodeAt(factor).size();
    return m_finer->measured(fileFactor(factor));
}

std::int64_t JpegTrials::lowerAt(int factor) const
{
    return m_finer->lowerAt(factor, [this](int f) {
        if (m_encoder != Encoder::Tovalin)
            return std::int64_t(encodeAt(f).size());
        return progressiveBytesBeforeStuffing(coefficients(), tablesAt(f));
    });
}

QuantTables JpegTrials::tablesAt(int factor) const
{
    QuantTables q = quantTablesFor(factor, m_encoder);
    if (m_dcSteps)
        q = withDcStep(q, m_dcSteps->best(q.natural[0][0]));
    return q;
}

QByteArray JpegTrials::encodeAt(int factor) const
{
    const QuantTables q = tablesAt(factor);
    QByteArray bytes = m_encoder == Encoder::Tovalin ? progressiveFile(coefficients(), q) : singleScanFile(q);
    if (m_finer)
        m_finer->record(factor, bytes.size());
    return bytes;
}

QByteArray JpegTrials::singleScanFile(const QuantTables &q) const
{
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
    appendHeaders(out, q, m_width, m_height, 0xC0);
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

EncodeResult encodeWithTrials(const QImage &rgb888, int factor, Encoder encoder)
{
    if (const EncodeError refused = encodable(rgb888); refused != EncodeError::None)
        return {{}, refused};
    const JpegTrials trials(rgb888, encoder);
    EncodeResult result{trials.encode(factor), EncodeError::None};
    if (result.bytes.isEmpty())
        result.error = EncodeError::EncoderFailed;
    return result;
}

} // namespace tovalin
