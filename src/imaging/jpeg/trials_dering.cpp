#include "imaging/jpeg/trials_dering.h"

#include "imaging/jpeg/trials_kernels.h"

#include <algorithm>
#include <cmath>

namespace tovalin::detail {

namespace {

// Lifts the runs at `top` (the block's values mirrored so that the clipped
// end is always the top) into bumps of at most `top + cap`.
void liftRuns(std::int32_t *v, std::int32_t top, std::int32_t cap)
{
    auto at = [&](int n) -> std::int32_t & { return v[kNatural[std::clamp(n, 0, kBlock - 1)]]; };
    for (int n = 0; n < kBlock; ++n) {
        if (at(n) < top)
            continue;
        const int start = n;
        while (n + 1 < kBlock && at(n + 1) >= top)
            ++n;
        const int end = n + 1; // first sample after the run
        // The slope into the run: at least the step onto it, so a slope
        // flattened by the clip still rises.
        std::int32_t rise = std::max(at(start - 1) - at(start - 2), top - at(start - 1));
        std::int32_t fall = std::max(at(end) - at(end + 1), top - at(end));
        if (start == 0)
            rise = fall;
        if (end == kBlock)
            fall = rise;
        // A cubic from top to top leaving with the rising slope and arriving
        // with the falling one (a Hermite curve), each slope over the run.
        const int length = end - start;
        for (int i = start; i < end; ++i) {
            const double t = double(i - start + 1) / (length + 1);
            const double bump = length * (rise * (t * t * t - 2 * t * t + t) - fall * (t * t * t - t * t));
            at(i) = top + std::clamp(std::int32_t(std::ceil(bump)), 0, cap);
        }
    }
}

} // namespace

bool deringBlock(const std::uint8_t *samples, int stride, std::int32_t *shifted)
{
    int whites = 0, blacks = 0, sum = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int s = samples[y * stride + x];
            whites += s == 255;
            blacks += s == 0;
            sum += s;
        }
    if ((whites == 0 || whites == kBlock) && (blacks == 0 || blacks == kBlock))
        return false;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            shifted[y * 8 + x] = samples[y * stride + x];
    // At most 31 past the end, and never so far that the block's mean
    // would leave 0..255.
    if (whites > 0 && whites < kBlock)
        liftRuns(shifted, 255, std::min(31, (255 * kBlock - sum) / whites));
    if (blacks > 0 && blacks < kBlock) {
        for (int k = 0; k < kBlock; ++k)
            shifted[k] = 255 - shifted[k];
        int mirroredSum = 0;
        for (int k = 0; k < kBlock; ++k)
            mirroredSum += std::min(shifted[k], 255);
        liftRuns(shifted, 255, std::min(31, (255 * kBlock - mirroredSum) / blacks));
        for (int k = 0; k < kBlock; ++k)
            shifted[k] = 255 - shifted[k];
    }
    for (int k = 0; k < kBlock; ++k)
        shifted[k] -= 128;
    return true;
}

} // namespace tovalin::detail
