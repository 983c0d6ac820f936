#pragma once
#include "common/savefile.h"
#include "resize/jobfields.h"
#include "resize/sizesearch.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>

namespace tovalin {

// What a size-mode run does when the target cannot be met at the asked
// size, or only with a factor past the floor: nothing, find the largest
// size of the same aspect that meets it at or under the floor after saving
// as asked (Suggest), or save at that size (Apply).
enum class ShrinkMode { Off, Suggest, Apply };

// One run of the Resize button, as a value: everything it needs goes in.
struct ResizeRequest {
    QImage source; // RGB888, the viewer's picture; never changed
    JobSettings settings;
    QString outputPath; // empty: the file's bytes come back in the result
    QString workFolder; // size mode: where work_min.jpg and work_max.jpg go; none when empty
    ShrinkMode shrink = ShrinkMode::Off;
    int shrinkFloor = kDefaultShrinkFloor;
    QByteArray metadata; // a whole APP1 segment put into the file; counts toward the target
    Existing existing = Existing::Replace; // Keep: a file at the output path is never replaced
};

enum class JobFailure {
    None,
    OutOfMemory,  // the resized picture did not fit in memory
    EncodeFailed, // the encoder refused the picture
    SaveFailed,   // the output could not be written (saveError says why)
    Cancelled,    // stopped before anything was written
    NoSizeFits,   // ShrinkMode::Apply: no size meets the target at or under the floor; nothing written
};

// Everything a run produced, for the window to word.
struct ResizeResult {
    JobFailure failure = JobFailure::None;
    SaveError saveError = SaveError::None;
    std::int64_t bytesWritten = 0; // length of the output file after the save
    int factor = 0;                // the factor the output file was encoded with
    int lastLo = 0;                // size mode: the bounds the last iteration
    int lastHi = 0;                //   began with, as the work files hold them
    int trials = 0;                // size mode: middle factors tried
    bool workFilesSaved = false;   // size mode: best effort, never stops a run
    bool overTarget = false;       // size mode: even the strongest factor is too large
    int width = 0;                 // the size written
    int height = 0;
    QSize suggestedSize;           // ShrinkMode::Suggest: the smaller size offered
    bool shrinkFailed = false;     // no size meets the target at or under the floor
    QByteArray bytes;              // the file itself, when the request named no path
};

// Shared with the thread that started the run: progress to show, and a
// request to stop (honoured between encodings, before anything is written).
struct JobControl {
    std::atomic<int> trials{0}; // iterations of the size search begun, at most nine
    std::atomic<int> shrinkSteps{0}; // sizes tried by the search for a smaller size
    std::atomic<bool> cancel{false};
    const std::atomic<int> *signal = nullptr; // a signal handler's flag: non-zero stops too
    bool stopped() const { return cancel.load() || (signal && signal->load() != 0); }
};

// The smallest side shrink to fit chooses: a smaller picture is no use.
constexpr int kMinShrunkSide = 16;

// Resize bicubically, encode with the factor or with the factor found by the
// size search, and write the output (and in size mode the work files).
ResizeResult runResizeJob(const ResizeRequest &request, JobControl *control = nullptr);

inline const QString kWorkMinName = QStringLiteral("work_min.jpg");
inline const QString kWorkMaxName = QStringLiteral("work_max.jpg");

} // namespace tovalin
