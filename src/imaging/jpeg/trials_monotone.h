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

// A small picture's file at a factor is the shortest of its encodings at
// that factor and every finer one (the finest of equals): its size then
// never grows with the factor by construction. On a small picture a factor
// step coarsens few levels, and a byte more of Huffman table or stuffing
// can outweigh them; encodings are cheap there, and each is measured once.
class SmallestUpTo {
public:
    // Pictures of at most this many MCUs (256 x 256 pixels).
    static constexpr std::int64_t kMaxMcus = 256;

    // The factor, at most `factor`, whose encoding is the shortest;
    // `sizeAt` measures one. Any thread.
    int factorFor(int factor, const std::function<std::int64_t(int)> &sizeAt);

private:
    std::mutex m_mutex;
    std::array<std::int64_t, 256> m_sizes{}; // per factor, 0 until measured
};

// `tables` with `step` as both components' DC step.
QuantTables withDcStep(const QuantTables &tables, int step);

} // namespace tovalin::detail
