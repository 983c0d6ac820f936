#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <vector>

#include "imaging/jpeg/trials_quant.h"
#include "imaging/jpeg/trials_scans.h"

// Keeps our files from growing with the factor where the DC rounding would.
// A coarser DC step usually shortens the DC scan, but not always: where
// many blocks sit near a rounding edge (flat screenshot colours), a step
// one larger can make neighbouring levels alternate and the scan hundreds
// of bytes longer. The DC scan is a file section of its own, so each
// factor takes, among the DC steps up to its table's, the one whose scan
// is shortest: the DC section, and so the file, never grows with the
// factor on its account, and the step taken is never coarser than the
// table's.
namespace tovalin::detail {

class DcSteps {
public:
    explicit DcSteps(const Coefficients &picture);

    // The DC step, at most `nominal`, whose DC scan (its two Huffman
    // tables and data) is the shortest; the largest of equals. Any thread;
    // the steps not yet measured are shared among the threads that ask and
    // a core to spare.
    int best(int nominal);

    // The DC scan's length in bytes with DC step `step` (1..255): its two
    // Huffman table markers, and its data with the stuffed bytes.
    std::int64_t scanBytes(int step) const;

private:
    struct Scan;
    Scan scan(int step, bool keepCodes) const;
    // scanBytes without the stuffed bytes: a lower bound, counted alone.
    std::int64_t bytesBeforeStuffing(int step) const;
    // Counts unclaimed steps up to `nominal` until none is left.
    void measure(int nominal);

    std::vector<std::int16_t> m_dc; // each block's DC coefficient, in scan order
    std::atomic<int> m_claimed{0};  // steps 1..m_claimed are taken by a thread
    std::array<std::atomic<std::int64_t>, 256> m_lower{}; // per step, 0 until counted
    std::array<std::int64_t, 256> m_exact{};              // per step, 0 until counted (under m_mutex)
    std::mutex m_mutex;
    std::condition_variable m_measured;
};

// The file at a factor is the shortest of the encodings at that factor and
// the finer ones (the finest of equals), so its size does not grow with
// the factor. A factor step changes few levels where the file is small or
// the step lands on few coefficients, and there a Huffman table's byte or
// a stuffed byte can outweigh it. On small pictures every finer factor is
// measured, so there it holds by construction; elsewhere the finer ones
// are measured downwards until one is larger than the shortest so far by
// a margin (64 bytes and a thousandth), many times what tables, padding
// and stuffing move, while a factor step there is worth most of a per cent.
class ShortestFiner {
public:
    // Pictures of at most this many MCUs (256 x 256 pixels) measure every
    // finer factor; encodings are cheap there.
    static constexpr std::int64_t kMaxMcusForEvery = 256;

    explicit ShortestFiner(std::int64_t mcus) : m_every(mcus <= kMaxMcusForEvery) {}

    using SizeAt = std::function<std::int64_t(int)>;
    struct Measures {
        SizeAt size;  // an encoding's size
        SizeAt lower; // at most that, cheaper: the size before stuffing
    };

    // The factor whose encoding is the file at `factor`. A finer factor is
    // encoded only where its lower bound could still win. Any thread.
    int factorFor(int factor, const Measures &measure);

    // Whether a size search under `limit` must look at the finer factors
    // to learn what the file at `factor`, `bytes` long on its own, is
    // worth to it. Not when it is within the limit: the search only needs
    // to know that it is, and no finer factor's encoding is within it where
    // the search settles. Not when it is over by more than the margin
    // either: no finer one comes back under.
    bool searchLooksFiner(std::int64_t bytes, std::int64_t limit) const
    {
        return bytes > limit && (m_every || bytes <= limit + margin(limit));
    }

    // An encoding's size, as soon as it is known. Any thread.
    void record(int factor, std::int64_t bytes) { m_sizes[std::size_t(factor)].store(bytes, std::memory_order_relaxed); }
    // The size recorded at a factor (0: none yet), as factorFor leaves it
    // for the factor it chose.
    std::int64_t measured(int factor) const { return m_sizes[std::size_t(factor)].load(std::memory_order_relaxed); }
    // The lower bound at a factor, counted now unless known. Any thread.
    std::int64_t lowerAt(int factor, const SizeAt &lower);

    static std::int64_t margin(std::int64_t bytes) { return 64 + bytes / 1000; }

private:
    const bool m_every;
    std::array<std::atomic<std::int64_t>, 256> m_sizes{}; // per factor, 0 until measured
    std::array<std::atomic<std::int64_t>, 256> m_lower{}; // per factor, 0 until counted
};

// `tables` with `step` as both components' DC step.
QuantTables withDcStep(const QuantTables &tables, int step);

} // namespace tovalin::detail
