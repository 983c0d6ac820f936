#include "resize/sizesearch.h"

#include "common/numbers.h"
#include "imaging/jpeg/jpeg.h"

#include <algorithm>

namespace tovalin {

int midFactor(int lo, int hi)
{
    return static_cast<int>(roundHalfEven((lo + hi) / 2.0));
}

Side sideOf(std::int64_t bytes, std::int64_t target)
{
    if (bytes > target)
        return Side::Over;
    if (bytes == target)
        return Side::At;
    return bytes > target - kStopWindow ? Side::Window : Side::Under;
}

void KnownSides::exact(int factor, std::int64_t bytes)
{
    m_exact[factor] = bytes;
    if (bytes > m_target)
        over(factor);
    else
        atMost(factor, bytes);
}

void KnownSides::atMost(int factor, std::int64_t bytes)
{
    if (bytes <= m_target)
        m_fitsFrom = std::min(m_fitsFrom, factor);
    if (bytes <= m_target - kStopWindow)
        m_underFrom = std::min(m_underFrom, factor);
}

void KnownSides::over(int factor) { m_overTo = std::max(m_overTo, factor); }

std::optional<Side> KnownSides::side(int factor) const
{
    if (const auto bytes = exactAt(factor))
        return sideOf(*bytes, m_target);
    if (!m_neverGrows)
        return std::nullopt;
    const bool under = factor >= m_underFrom;
    const bool over = factor <= m_overTo;
    if (under == over) // nothing known, or a contradiction: measure it
        return std::nullopt;
    return under ? Side::Under : Side::Over;
}

std::optional<std::int64_t> KnownSides::exactAt(int factor) const
{
    const auto found = m_exact.find(factor);
    if (found == m_exact.end())
        return std::nullopt;
    return found->second;
}

SearchOutcome searchFactor(const TrialSide &trialSide, const IterationStart &onIteration)
{
    constexpr int kMaxIterations = 9;
    int lo = kBestFactor;
    int hi = kStrongestFactor;
    Side v = Side::Over; // V starts at T + 999: never inside the stop window
    SearchOutcome out;

    while (v != Side::Window && out.iterations < kMaxIterations) {
        ++out.iterations;
        out.lastLo = lo;
        out.lastHi = hi;
        if (onIteration)
            onIteration(lo, hi);
        const int mid = midFactor(lo, hi);
        const std::optional<Side> atMid = trialSide(mid);
        if (!atMid) {
            out.encodeFailed = true;
            return out;
        }
        out.trials.push_back(mid);
        v = *atMid;
        if (v == Side::Over)
            lo = mid; // too large: compress more
        else
            hi = mid;
    }
    // Only the size at the lower bound the last iteration began with decides;
    // the earlier ones are overwritten unread, so they are never measured.
    const std::optional<Side> loSize = trialSide(out.lastLo);
    if (!loSize) {
        out.encodeFailed = true;
        return out;
    }
    out.finalFactor = *loSize == Side::Under || *loSize == Side::Window ? lo : hi;
    return out;
}

} // namespace tovalin
