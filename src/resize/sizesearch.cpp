#include "resize/sizesearch.h"

#include "common/numbers.h"
#include "imaging/jpeg/jpeg.h"

#include <limits>

namespace tovalin {

int midFactor(int lo, int hi)
{
    return static_cast<int>(roundHalfEven((lo + hi) / 2.0));
}

SearchOutcome searchFactor(std::int32_t target, const TrialSize &trialSize, const IterationStart &onIteration)
{
    constexpr int kMaxIterations = 9;
    constexpr std::int64_t kWindow = 10;
    const std::int64_t t = target;
    int lo = kBestFactor;
    int hi = kStrongestFactor;
    std::int64_t v = t + 999; // never inside the stop window
    SearchOutcome out;

    while (!(t - kWindow < v && v < t) && out.iterations < kMaxIterations) {
        ++out.iterations;
        out.lastLo = lo;
        out.lastHi = hi;
        if (onIteration)
            onIteration(lo, hi);
        const int mid = midFactor(lo, hi);
        const std::optional<std::int64_t> atMid = trialSize(mid);
        if (!atMid) {
            out.encodeFailed = true;
            return out;
        }
        out.trials.push_back(mid);
        v = *atMid;
        if (v > t)
            lo = mid; // too large: compress more
        else
            hi = mid;
    }
    // Only the size at the lower bound the last iteration began with decides;
    // the earlier ones are overwritten unread, so they are never measured.
    const std::optional<std::int64_t> loSize = trialSize(out.lastLo);
    if (!loSize) {
        out.encodeFailed = true;
        return out;
    }
    out.finalFactor = *loSize < t ? lo : hi;
    return out;
}

} // namespace tovalin
