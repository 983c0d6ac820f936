#pragma once
#include <QString>
#include <cstdint>
#include <functional>
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

// Size in bytes of the encoding at a factor; empty when encoding failed.
using TrialSize = std::function<std::optional<std::int64_t>(int factor)>;

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
SearchOutcome searchFactor(std::int32_t target, const TrialSize &trialSize,
                           const IterationStart &onIteration = {});

} // namespace tovalin
