#pragma once
#include <QByteArray>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "common/helpers.h"
#include "imaging/jpeg/jpegtrials.h"
#include "resize/sizesearch.h"

namespace tovalin {

// The encodings of one picture by factor, and what they tell of the files'
// sides against a size search's target. The bytes are kept only while the
// factor can still be written (inside the search's bounds), so a run holds
// a few compressed files, not one per trial. An encoding may be started
// ahead on the second core.
class SearchEncodings {
public:
    // Each encoding is a trial of a search under `limit`.
    SearchEncodings(const JpegTrials &trials, std::int64_t limit)
        : m_trials(trials), m_limit(limit), m_known(limit, trials.sizesNeverGrow())
    {
    }
    ~SearchEncodings();
    SearchEncodings(const SearchEncodings &) = delete;
    SearchEncodings &operator=(const SearchEncodings &) = delete;

    // Where sizes never grow with the factor, the bisection's trials on
    // either side of the factor whose file first fits follow from two
    // encodings, at it and at the one before. So those two are found
    // first, from the sampled sizes, in a few encodings near the target
    // rather than one per trial; the bisection then runs as always, and
    // encodes what is still unknown when it gets there.
    void pinBoundary(const std::function<bool()> &stopped);

    // The side of the file at `factor`: known, or encoded now; empty when
    // the encoder failed.
    std::optional<Side> side(int factor);
    // The side known so far, without encoding.
    std::optional<Side> known(int factor) const { return m_known.side(factor); }
    // The size of the file at `factor`; empty when the encoder failed.
    std::optional<std::int64_t> size(int factor);
    // The file at `factor`: the trial's bytes, unless a finer factor's
    // encoding is shorter (as it can be where the search did not settle).
    QByteArray file(int factor);

    // Only factors within [lo, hi] can still be written.
    void keepBytesWithin(int lo, int hi);

private:
    struct Entry {
        std::unique_ptr<Helper> job; // an encoding started ahead, on a core to spare
        QByteArray ahead;
        bool settled = false;
        bool ok = false;
        std::int64_t size = 0;
        QByteArray bytes;
    };

    void startAhead(int factor);
    Entry &settle(int factor);
    void learn(int factor, std::int64_t bytes);
    std::optional<std::pair<int, std::int64_t>> nearestKnown(int factor, bool above) const;
    double guessSize(int factor);
    int firstGuessedFitting(int from, int to);
    std::int64_t estimate(int factor);

    const JpegTrials &m_trials;
    const std::int64_t m_limit;
    KnownSides m_known;
    std::map<int, Entry> m_all;
    std::map<int, std::int64_t> m_estimates;
};

} // namespace tovalin
