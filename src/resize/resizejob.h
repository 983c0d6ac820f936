#pragma once
#include "common/savefile.h"
#include "resize/jobfields.h"

#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>

namespace tovalin {

// One run of the Resize button, as a value: everything it needs goes in.
struct ResizeRequest {
    QImage source; // RGB888, the viewer's picture; never changed
    int width = 0;
    int height = 0;
    JobMode mode = JobMode::TargetSize;
    int factor = 0;               // factor mode
    std::int32_t targetBytes = 0; // size mode
    QString outputPath;
    QString workFolder; // size mode: where work_min.jpg and work_max.jpg go
};

enum class JobFailure {
    None,
    OutOfMemory,  // the resized picture did not fit in memory
    EncodeFailed, // the encoder refused the picture
    SaveFailed,   // the output could not be written (saveError says why)
    Cancelled,    // stopped before anything was written
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
};

// Shared with the thread that started the run: progress to show, and a
// request to stop (honoured between encodings, before anything is written).
struct JobControl {
    std::atomic<int> trials{0}; // iterations of the size search begun, at most nine
    std::atomic<bool> cancel{false};
};

// Resize bicubically, encode with the factor or with the factor found by the
// size search, and write the output (and in size mode the work files).
ResizeResult runResizeJob(const ResizeRequest &request, JobControl *control = nullptr);

inline const QString kWorkMinName = QStringLiteral("work_min.jpg");
inline const QString kWorkMaxName = QStringLiteral("work_max.jpg");

} // namespace tovalin
