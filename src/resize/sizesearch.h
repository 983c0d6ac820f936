#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "imaging/jpeg/jpeg.h"

namespace tovalin {

// The factor tried between two bounds: their mean, halves to even
// (2 and 255 give 128, 65 and 128 give 96, 2 and 65 give 34).
int midFactor(int lo, int hi);

// The strongest factor that leaves a photo free of visible 8x8 blocks:
// past it, a size target is better met by a smaller picture. For libjpeg's
// encoder, measured with bench/quality_floor.cpp on varied photos at a long
// edge of 1600: up to factor 100 the median photo keeps 95 % of its varied
// 8x8 blocks from being flattened into single-colour tiles; past it the
// share of tiles climbs fast (7.7 % at 105, 17.7 % at 120, 38 % at 140).
constexpr int kLibjpegShrinkFloor = 100;
// For our encoder, the factor that looks as good: where its median
// SSIMULACRA2 over the quality benchmark's 24 pictures equals libjpeg's
// at 100 (64.98; ours 65.59 at 120, 61.85 at 130: bench/shrink_floor.py).
constexpr int kDefaultShrinkFloor = 122;

constexpr int defaultShrinkFloor(Encoder encoder)
{
    return encoder == Encoder::Libjpeg ? kLibjpegShrinkFloor : kDefaultShrinkFloor;
}

// A trial inside (target - kStopWindow, target) ends the search.
constexpr std::int64_t kStopWindow = 10;

// Where a trial's file lies against the target, all the search asks of
// it: over, exactly at it, inside the stop window, or further under.
enum class Side { Over, At, Window, Under };
Side sideOf(std::int64_t bytes, std::int64_t target);

// The side of the file at a factor; empty when encoding failed.
using TrialSide = std::function<std::optional<Side>(int factor)>;

// What is known of the files at some factors, and what follows from it
// where a file never grows with the factor: a file at most target -
// kStopWindow long puts every coarser factor's under the window too, and
// one over the target puts every finer factor's over it. Where what
// follows contradicts itself (sizes that grow after all), nothing does.
class KnownSides {
public:
    KnownSides(std::int64_t target, bool neverGrows) : m_target(target), m_neverGrows(neverGrows) {}

    void exact(int factor, std::int64_t bytes); // the file's size
    void atMost(int factor, std::int64_t bytes); // the file is no longer
    void over(int factor);                       // the file is over the target

    std::optional<Side> side(int factor) const;
    std::optional<std::int64_t> exactAt(int factor) const;
    // The coarsest factor known to be over the target (1: none) and the
    // finest known to fit (256: none); the boundary lies between them.
    int coarsestOver() const { return m_overTo; }
    int finestFitting() const { return m_fitsFrom; }

private:
    std::int64_t m_target;
    bool m_neverGrows;
    std::map<int, std::int64_t> m_exact;
    int m_overTo = kBestFactor - 1;
    int m_underFrom = kStrongestFactor + 1; // finest known under the window
    int m_fitsFrom = kStrongestFactor + 1;
};

struct SearchOutcome {
    bool encodeFailed = false;
    int finalFactor = 0;
    int lastLo = 0; // the bounds the last iteration began with:
    int lastHi = 0; // what the work files hold afterwards
    int iterations = 0;
    std::vector<int> trials; // the middle factors tried, in order
};

// Told the bounds at the start of every iteration, before its trials.
using IterationStart = std::function<void(int lo, int hi)>;

// Bisect the quality factor between 2 and 255 until a trial lands strictly
// between target - 10 and target, for at most nine iterations; then settle on
// the lower bound if its file is under the target, else the upper bound.
SearchOutcome searchFactor(const TrialSide &trialSide, const IterationStart &onIteration = {});

} // namespace tovalin
