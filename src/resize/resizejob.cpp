#include "resize/resizejob.h"

#include "common/helpers.h"
#include "common/nativepath.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/jpegtrials.h"
#include "resize/searchencodings.h"
#include "resize/sizesearch.h"

#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>

namespace tovalin {

namespace {

bool cancelled(const JobControl *control) { return control && control->stopped(); }

// An empty path keeps the file's bytes in the result instead (standard output).
ResizeResult saved(ResizeResult r, const QString &path, const QByteArray &bytes, Existing existing)
{
    if (path.isEmpty()) {
        r.bytes = bytes;
        r.bytesWritten = bytes.size();
        return r;
    }
    r.saveError = writeFileReplacing(path, bytes, true, existing);
    if (r.saveError != SaveError::None) {
        r.failure = JobFailure::SaveFailed;
        return r;
    }
    struct stat st {};
    r.bytesWritten = ::stat(nativePath(path).constData(), &st) == 0 ? st.st_size : bytes.size();
    return r;
}

// One size's factor search, in memory: the trials' coefficients, every
// encoding's size, and the factor the search settles on.
class FactorSearch {
public:
    FactorSearch(const QImage &resized, Encoder encoder, std::int64_t target)
        : m_trials(resized, encoder), m_encodings(m_trials, target)
    {
    }

    JobFailure run(JobControl *control)
    {
        if (!m_trials.ok())
            return JobFailure::EncodeFailed;
        m_encodings.pinBoundary([control] { return cancelled(control); });
        m_found = searchFactor(
            [&](int factor) -> std::optional<Side> {
                if (cancelled(control))
                    return std::nullopt; // a stop is told apart below: the flag stays set
                return m_encodings.side(factor);
            },
            [&](int lo, int hi) {
                if (control)
                    ++control->trials;
                m_encodings.keepBytesWithin(lo, hi);
            });
        if (cancelled(control))
            return JobFailure::Cancelled;
        return m_found.encodeFailed ? JobFailure::EncodeFailed : JobFailure::None;
    }

    const SearchOutcome &found() const { return m_found; }
    std::optional<std::int64_t> size(int factor) { return m_encodings.size(factor); }
    QByteArray file(int factor) { return m_encodings.file(factor); }

private:
    JpegTrials m_trials;
    SearchEncodings m_encodings;
    SearchOutcome m_found;
};

// The picture at width x height; null when it does not fit in memory.
QImage resized(const QImage &source, int width, int height)
{
    // The same size is the picture itself: bicubic weights at whole-pixel
    // offsets are exactly 1 and 0.
    ImageHolder work;
    work.setImage(source);
    if ((width != source.width() || height != source.height()) && work.resize(width, height) != ResizeOutcome::Done)
        return {};
    return work.image();
}

// The file's bytes with the metadata segment after its start marker (and
// its JFIF header, when it has one).
QByteArray withMetadata(const QByteArray &jpeg, const QByteArray &segment)
{
    if (segment.isEmpty() || jpeg.size() < 4)
        return jpeg;
    qsizetype at = 2;
    if (quint8(jpeg[2]) == 0xFF && quint8(jpeg[3]) == 0xE0 && jpeg.size() >= 6)
        at += 2 + (quint8(jpeg[4]) << 8 | quint8(jpeg[5]));
    return jpeg.left(at) + segment + jpeg.mid(at);
}

struct Shrunk {
    QSize size;           // invalid when no size meets the target
    bool stopped = false; // cancelled, or out of memory
};

// The largest size of the asked one's aspect ratio whose encoding at the
// floor factor meets the target: a search over the width, each step a
// resize and a trial encoding. `tooLargeAt` is that encoding's size at the
// asked width, which does not meet the target. File sizes grow about with
// the pixels, so each step guesses from the last one's size, and halves
// the range the guess leaves where it did not narrow it by half.
Shrunk findShrunkSize(const QImage &source, QSize asked, std::int64_t target, int floor, std::int64_t tooLargeAt,
                      Encoder encoder, JobControl *control)
{
    Shrunk out;
    const auto heightFor = [&](int w) { return std::max(1, int(std::lround(double(asked.height()) * w / asked.width()))); };
    // The narrowest width whose height rounds to the smallest side or more.
    const int least = std::max(kMinShrunkSide, int(std::ceil((kMinShrunkSide - 0.5) * asked.width() / asked.height())));
    int lo = least - 1, hi = asked.width(); // lo meets the target (least - 1: none found yet), hi does not
    int w = asked.width();
    std::int64_t atW = tooLargeAt;
    while (hi - lo > 1) {
        const int span = hi - lo;
        int next = int(std::lround(w * std::sqrt(double(target) / double(std::max<std::int64_t>(atW, 1)))));
        next = std::clamp(next, lo + 1, hi - 1);
        const QImage picture = resized(source, next, heightFor(next));
        if (cancelled(control) || picture.isNull()) {
            out.stopped = true;
            return out;
        }
        const JpegTrials trials(picture, encoder);
        if (!trials.ok()) {
            out.stopped = true;
            return out;
        }
        if (control)
            ++control->shrinkSteps;
        w = next;
        atW = trials.encode(floor).size();
        if (atW <= target)
            lo = w;
        else
            hi = w;
        // A guess that left more than half the range: the next step halves it.
        if (hi - lo > span / 2) {
            w = lo + (hi - lo) / 2;
            atW = target; // guess the middle itself
        }
    }
    if (lo >= least)
        out.size = QSize(lo, heightFor(lo));
    return out;
}

ResizeResult searchAndSave(const ResizeRequest &request, const QImage &picture, JobControl *control)
{
    ResizeResult r;
    r.width = picture.width();
    r.height = picture.height();
    // The metadata's bytes count toward the target.
    const std::int64_t target = std::max<std::int64_t>(1, std::int64_t(request.settings.targetBytes) - request.metadata.size());
    auto search = std::make_unique<FactorSearch>(picture, request.settings.encoder, target);
    r.failure = search->run(control);
    if (r.failure != JobFailure::None)
        return r;
    // The target missed, or met only past the floor.
    const auto needsShrink = [&] {
        const std::optional<std::int64_t> atFinal = search->size(search->found().finalFactor);
        return search->found().finalFactor > request.shrinkFloor || (atFinal && *atFinal > target);
    };
    if (request.shrink == ShrinkMode::Apply && needsShrink()) {
        const std::optional<std::int64_t> atFloor = search->size(request.shrinkFloor);
        const Shrunk shrunk = atFloor && *atFloor > target
                                  ? findShrunkSize(request.source, picture.size(), target, request.shrinkFloor, *atFloor,
                                                   request.settings.encoder, control)
                                  : Shrunk{picture.size(), false};
        if (cancelled(control)) {
            r.failure = JobFailure::Cancelled;
            return r;
        }
        r.shrinkFailed = !shrunk.size.isValid();
        if (r.shrinkFailed) {
            r.failure = JobFailure::NoSizeFits; // an over-target file is never written as if it fitted
            return r;
        }
        if (shrunk.size != picture.size()) {
            const QImage smaller = resized(request.source, shrunk.size.width(), shrunk.size.height());
            if (smaller.isNull()) {
                r.failure = JobFailure::OutOfMemory;
                return r;
            }
            search = std::make_unique<FactorSearch>(smaller, request.settings.encoder, target);
            r.failure = search->run(control);
            if (r.failure != JobFailure::None)
                return r;
            r.width = smaller.width();
            r.height = smaller.height();
        }
    }
    const SearchOutcome &found = search->found();
    r.factor = found.finalFactor;
    // A search that could not settle at or under the floor where the floor
    // itself fits (sizes are not strictly monotonic): the floor is written.
    if (request.shrink == ShrinkMode::Apply && !r.shrinkFailed && r.factor > request.shrinkFloor)
        r.factor = request.shrinkFloor;
    r.lastLo = found.lastLo;
    r.lastHi = found.lastHi;
    r.trials = found.iterations;
    // Trials are measured in memory; the work files keep the encodings at the
    // bounds the last iteration began with. They are a convenience: a folder
    // that cannot take them never stops the user's file, so on a nearly
    // full disk the user's file takes the space first.
    const QByteArray final = withMetadata(search->file(r.factor), request.metadata);
    if (cancelled(control)) {
        r.failure = JobFailure::Cancelled;
        return r;
    }
    const QString minPath = request.workFolder + QLatin1Char('/') + kWorkMinName;
    const QString maxPath = request.workFolder + QLatin1Char('/') + kWorkMaxName;
    const auto writeWorkFiles = [&] {
        return !request.workFolder.isEmpty() && writeFileReplacing(minPath, search->file(found.lastLo), false) == SaveError::None
               && writeFileReplacing(maxPath, search->file(found.lastHi), false) == SaveError::None;
    };
    // A user's file named like a work file is written last, so it holds the result.
    const QString output = QFileInfo(request.outputPath).absoluteFilePath();
    const bool sameName = !request.workFolder.isEmpty()
                          && (output == QFileInfo(minPath).absoluteFilePath() || output == QFileInfo(maxPath).absoluteFilePath());
    if (sameName) {
        const bool workFilesSaved = writeWorkFiles();
        r = saved(r, request.outputPath, final, request.existing);
        r.workFilesSaved = workFilesSaved;
    } else {
        r = saved(r, request.outputPath, final, request.existing);
        r.workFilesSaved = r.failure == JobFailure::None && writeWorkFiles();
    }
    r.overTarget = r.failure == JobFailure::None && r.bytesWritten > request.settings.targetBytes;
    // Offered after the file is saved as asked: the size that would meet
    // the target at or under the floor.
    if (request.shrink == ShrinkMode::Suggest && r.failure == JobFailure::None && needsShrink()) {
        const std::optional<std::int64_t> atFloor = search->size(request.shrinkFloor);
        if (atFloor && *atFloor > target) {
            search.reset(); // its coefficients are not needed any more
            const Shrunk shrunk = findShrunkSize(request.source, QSize(r.width, r.height), target, request.shrinkFloor, *atFloor,
                                                   request.settings.encoder, control);
            r.suggestedSize = shrunk.stopped ? QSize() : shrunk.size;
            r.shrinkFailed = !shrunk.stopped && !shrunk.size.isValid();
        }
    }
    return r;
}

} // namespace

ResizeResult runResizeJob(const ResizeRequest &request, JobControl *control)
{
    ResizeResult r;
    QImage picture = resized(request.source, request.settings.width, request.settings.height);
    if (picture.isNull()) {
        r.failure = JobFailure::OutOfMemory;
        return r;
    }
    if (request.settings.mode == JobMode::TargetSize)
        return searchAndSave(request, picture, control);
    const EncodeResult jpeg = request.settings.encoder == Encoder::Libjpeg ? encodeJpeg(picture, request.settings.factor)
                                                                           : encodeWithTrials(picture, request.settings.factor, request.settings.encoder);
    if (jpeg.error != EncodeError::None) {
        r.failure = JobFailure::EncodeFailed;
        return r;
    }
    if (cancelled(control)) {
        r.failure = JobFailure::Cancelled;
        return r;
    }
    r.factor = request.settings.factor;
    r.width = picture.width();
    r.height = picture.height();
    return saved(r, request.outputPath, withMetadata(jpeg.bytes, request.metadata), request.existing);
}

} // namespace tovalin
