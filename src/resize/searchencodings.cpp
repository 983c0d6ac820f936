#include "resize/searchencodings.h"

namespace tovalin {

SearchEncodings::~SearchEncodings()
{
    for (auto &[factor, e] : m_all)
        if (e.job)
            e.job->wait();
}

void SearchEncodings::pinBoundary(const std::function<bool()> &stopped)
{
    if (!m_trials.sizesNeverGrow())
        return; // nothing would follow from the two
    constexpr int kRounds = 4; // the guess is off by a step or two at most, mostly
    for (int round = 0; round < kRounds && !stopped(); ++round) {
        const int over = m_known.coarsestOver();
        const int fits = m_known.finestFitting();
        if (fits - over <= 1)
            return;
        int at = firstGuessedFitting(over + 1, fits);
        if (at == fits)
            at = fits - 1; // the guess puts the boundary there: the one before must be over
        if (at - 1 > over)
            startAhead(at - 1);
        if (!side(at))
            return;
    }
}

std::optional<Side> SearchEncodings::side(int factor)
{
    if (const std::optional<Side> known = m_known.side(factor))
        return known;
    if (!settle(factor).ok)
        return std::nullopt;
    if (const std::optional<Side> learned = m_known.side(factor))
        return learned;
    return sideOf(*size(factor), m_limit); // what follows contradicts itself: the file's own size decides
}

std::optional<std::int64_t> SearchEncodings::size(int factor)
{
    if (!settle(factor).ok)
        return std::nullopt;
    if (const std::optional<std::int64_t> exact = m_known.exactAt(factor))
        return exact;
    const std::int64_t bytes = m_trials.fileSize(factor);
    m_known.exact(factor, bytes);
    return bytes;
}

QByteArray SearchEncodings::file(int factor)
{
    Entry &e = settle(factor);
    if (!e.ok)
        return {};
    if (const int finer = m_trials.fileFactor(factor); finer != factor)
        return m_trials.encode(finer); // the finer factor is its own file: no encoding at `factor` first
    if (e.bytes.isEmpty()) // let go earlier: encode again
        e.bytes = m_trials.encode(factor);
    return e.bytes;
}

void SearchEncodings::keepBytesWithin(int lo, int hi)
{
    for (auto &[f, e] : m_all)
        if (e.settled && (f < lo || f > hi))
            e.bytes = QByteArray();
}

void SearchEncodings::startAhead(int factor)
{
    if (m_all.count(factor) || m_known.side(factor))
        return;
    Entry &e = m_all[factor]; // entries of a map stay where they are
    e.job = std::make_unique<Helper>([this, &e, factor] { e.ahead = m_trials.encodeWithin(factor, m_limit); },
                                     Helper::Optional);
}

SearchEncodings::Entry &SearchEncodings::settle(int factor)
{
    Entry &e = m_all[factor];
    if (e.settled)
        return e;
    if (e.job)
        e.job->wait();
    e.bytes = e.job && e.job->beside() ? std::move(e.ahead) : m_trials.encodeWithin(factor, m_limit);
    e.settled = true;
    e.ok = !e.bytes.isEmpty();
    e.size = e.bytes.size();
    if (e.ok)
        learn(factor, e.size);
    return e;
}

// What a trial of `bytes` tells: the file at the factor is no longer
// (a trial within the limit may be the encoding at the factor alone),
// and over the limit it is over it. Inside the stop window only the
// file's own size will do.
void SearchEncodings::learn(int factor, std::int64_t bytes)
{
    if (!m_trials.sizesNeverGrow())
        m_known.exact(factor, bytes); // the trial is the file
    else if (bytes > m_limit)
        m_known.over(factor);
    else if (bytes <= m_limit - kStopWindow)
        m_known.atMost(factor, bytes);
    else
        m_known.exact(factor, m_trials.fileSize(factor));
}

// Sizes already known, without waiting: the nearest below or above.
std::optional<std::pair<int, std::int64_t>> SearchEncodings::nearestKnown(int factor, bool above) const
{
    std::optional<std::pair<int, std::int64_t>> best;
    for (const auto &[f, e] : m_all) {
        if ((above ? f <= factor : f >= factor) || !e.settled || !e.ok)
            continue;
        if (!best || (above ? f < best->first : f > best->first))
            best = std::pair{f, e.size};
    }
    return best;
}

// What the trials' sample tells of the size at a factor, scaled by how
// far it was off at the nearest factor already encoded.
double SearchEncodings::guessSize(int factor)
{
    double guess = double(estimate(factor));
    const auto below = nearestKnown(factor, false);
    const auto above = nearestKnown(factor, true);
    const auto nearest = !below ? above : !above ? below : factor - below->first <= above->first - factor ? below : above;
    if (nearest && estimate(nearest->first) > 0)
        guess *= double(nearest->second) / double(estimate(nearest->first));
    return guess;
}

// The finest factor in [from, to) whose guessed size fits; `to` if none.
int SearchEncodings::firstGuessedFitting(int from, int to)
{
    while (from < to) {
        const int mid = (from + to) / 2;
        if (guessSize(mid) <= double(m_limit))
            to = mid;
        else
            from = mid + 1;
    }
    return to;
}

std::int64_t SearchEncodings::estimate(int factor)
{
    const auto found = m_estimates.find(factor);
    if (found != m_estimates.end())
        return found->second;
    return m_estimates[factor] = m_trials.estimateSize(factor);
}

} // namespace tovalin
