#include "resize/resizejob.h"

#include "imaging/image.h"
#include "imaging/jpeg.h"
#include "imaging/jpegtrials.h"
#include "resize/sizesearch.h"

#include <QFileInfo>

#include <future>
#include <map>
#include <optional>

namespace tovalin {

namespace {

// The encodings of one picture by factor. Every size is kept; the bytes only
// while the factor can still be written (inside the search's bounds), so a
// run holds a few compressed files, not one per trial. An encoding may be
// started ahead on the second core.
class Encodings {
    struct Entry {
        std::future<QByteArray> job;
        bool settled = false;
        bool ok = false;
        std::int64_t size = 0;
        QByteArray bytes;
    };

public:
    explicit Encodings(const JpegTrials &trials) : m_trials(trials) {}
    ~Encodings()
    {
        for (auto &[factor, e] : m_all)
            if (e.job.valid())
                e.job.wait();
    }
    Encodings(const Encodings &) = delete;
    Encodings &operator=(const Encodings &) = delete;

    void startAhead(int factor)
    {
        if (!m_all.count(factor))
            m_all[factor].job = std::async(std::launch::async, &JpegTrials::encode, &m_trials, factor);
    }

    // Waits for (or runs) the encoding; empty when the encoder failed.
    std::optional<std::int64_t> size(int factor)
    {
        Entry &e = settle(factor);
        if (!e.ok)
            return std::nullopt;
        return e.size;
    }

    QByteArray bytes(int factor)
    {
        Entry &e = settle(factor);
        if (e.ok && e.bytes.isEmpty()) // let go earlier: encode again
            e.bytes = m_trials.encode(factor);
        return e.bytes;
    }

    // Sizes already known, without waiting: the nearest below or above.
    std::optional<std::pair<int, std::int64_t>> nearestKnown(int factor, bool above) const
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
    double guessSize(int factor)
    {
        double guess = double(estimate(factor));
        const auto below = nearestKnown(factor, false);
        const auto above = nearestKnown(factor, true);
        const auto nearest = !below ? above : !above ? below : factor - below->first <= above->first - factor ? below : above;
        if (nearest && estimate(nearest->first) > 0)
            guess *= double(nearest->second) / double(estimate(nearest->first));
        return guess;
    }

    // Only factors within [lo, hi] can still be written.
    void keepBytesWithin(int lo, int hi)
    {
        for (auto &[f, e] : m_all)
            if (e.settled && (f < lo || f > hi))
                e.bytes = QByteArray();
    }

private:
    Entry &settle(int factor)
    {
        Entry &e = m_all[factor];
        if (e.settled)
            return e;
        e.bytes = e.job.valid() ? e.job.get() : m_trials.encode(factor);
        e.settled = true;
        e.ok = !e.bytes.isEmpty();
        e.size = e.bytes.size();
        return e;
    }

    std::int64_t estimate(int factor)
    {
        const auto found = m_estimates.find(factor);
        if (found != m_estimates.end())
            return found->second;
        return m_estimates[factor] = m_trials.estimateSize(factor);
    }

    const JpegTrials &m_trials;
    std::map<int, Entry> m_all;
    std::map<int, std::int64_t> m_estimates;
};

// Starts, on the second core, the trial the next iteration will most likely
// ask for. Sizes never grow with the factor, so a known size on the far side
// of the target settles the direction; otherwise the size at the middle is
// guessed from a sample of the picture. A wrong guess costs a spare
// encoding, never a different result.
void encodeAhead(Encodings &encodings, int lo, int hi, std::int64_t target)
{
    const int mid = midFactor(lo, hi);
    const int ifTooLarge = midFactor(mid, hi);
    const int ifFits = midFactor(lo, mid);
    const auto below = encodings.nearestKnown(mid, false);
    const auto above = encodings.nearestKnown(mid, true);
    bool tooLarge = true;
    if (above && above->second > target)
        tooLarge = true;
    else if (below && below->second <= target)
        tooLarge = false;
    else
        tooLarge = encodings.guessSize(mid) > static_cast<double>(target);
    encodings.startAhead(tooLarge ? ifTooLarge : ifFits);
}

ResizeResult saved(ResizeResult r, const QString &path, const QByteArray &bytes)
{
    r.saveError = writeFileReplacing(path, bytes);
    if (r.saveError != SaveError::None) {
        r.failure = JobFailure::SaveFailed;
        return r;
    }
    r.bytesWritten = QFileInfo(path).size();
    return r;
}

bool cancelled(const JobControl *control) { return control && control->cancel.load(); }

ResizeResult searchAndSave(const ResizeRequest &request, const JpegTrials &trials, JobControl *control)
{
    ResizeResult r;
    if (!trials.ok()) {
        r.failure = JobFailure::EncodeFailed;
        return r;
    }
    Encodings encodings(trials);
    const std::int64_t target = request.targetBytes;
    const SearchOutcome found = searchFactor(
        request.targetBytes,
        [&](int factor) -> std::optional<std::int64_t> {
            if (cancelled(control))
                return std::nullopt; // a stop is told apart below: the flag stays set
            return encodings.size(factor);
        },
        [&](int lo, int hi) {
            if (control)
                ++control->trials;
            encodings.keepBytesWithin(lo, hi);
            encodeAhead(encodings, lo, hi, target);
        });
    if (cancelled(control)) {
        r.failure = JobFailure::Cancelled;
        return r;
    }
    if (found.encodeFailed) {
        r.failure = JobFailure::EncodeFailed;
        return r;
    }
    r.factor = found.finalFactor;
    r.lastLo = found.lastLo;
    r.lastHi = found.lastHi;
    r.trials = found.iterations;
    // Trials are measured in memory; the work files keep the encodings at the
    // bounds the last iteration began with. They are a convenience: a folder
    // that cannot take them never stops the user's file, so on a nearly
    // full disk the user's file takes the space first.
    const QByteArray final = encodings.bytes(found.finalFactor);
    if (cancelled(control)) {
        r.failure = JobFailure::Cancelled;
        return r;
    }
    const QString minPath = request.workFolder + QLatin1Char('/') + kWorkMinName;
    const QString maxPath = request.workFolder + QLatin1Char('/') + kWorkMaxName;
    const auto writeWorkFiles = [&] {
        return writeFileReplacing(minPath, encodings.bytes(found.lastLo)) == SaveError::None
               && writeFileReplacing(maxPath, encodings.bytes(found.lastHi)) == SaveError::None;
    };
    // A user's file named like a work file is written last, so it holds the result.
    const QString output = QFileInfo(request.outputPath).absoluteFilePath();
    const bool sameName = output == QFileInfo(minPath).absoluteFilePath() || output == QFileInfo(maxPath).absoluteFilePath();
    if (sameName) {
        const bool workFilesSaved = writeWorkFiles();
        r = saved(r, request.outputPath, final);
        r.workFilesSaved = workFilesSaved;
    } else {
        r = saved(r, request.outputPath, final);
        r.workFilesSaved = r.failure == JobFailure::None && writeWorkFiles();
    }
    r.overTarget = r.failure == JobFailure::None && r.bytesWritten > target;
    return r;
}

} // namespace

ResizeResult runResizeJob(const ResizeRequest &request, JobControl *control)
{
    ResizeResult r;
    // The same size is the picture itself: bicubic weights at whole-pixel
    // offsets are exactly 1 and 0.
    ImageHolder work;
    work.setImage(request.source);
    if (request.width != request.source.width() || request.height != request.source.height()) {
        if (work.resize(request.width, request.height) != ResizeOutcome::Done) {
            r.failure = JobFailure::OutOfMemory;
            return r;
        }
    }
    if (request.mode == JobMode::TargetSize) {
        const JpegTrials trials(work.image());
        work.clear(); // the coefficients are all the search needs
        return searchAndSave(request, trials, control);
    }
    const EncodeResult jpeg = encodeJpeg(work.image(), request.factor);
    if (jpeg.error != EncodeError::None) {
        r.failure = JobFailure::EncodeFailed;
        return r;
    }
    if (cancelled(control)) {
        r.failure = JobFailure::Cancelled;
        return r;
    }
    r.factor = request.factor;
    return saved(r, request.outputPath, jpeg.bytes);
}

} // namespace tovalin
