#pragma once
#include "batch/collect.h"
#include "batch/memorybudget.h"
#include "batch/sizerule.h"
#include "imaging/decode/decode.h"
#include "resize/resizejob.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace tovalin {

enum class MetadataMode {
    None, // nothing carried over, as the window
    Safe, // date taken, camera and exposure; no place, maker notes, serials or thumbnail
};

// What a batch does with each picture.
struct BatchOptions {
    SizeRule size;
    JobMode mode = JobMode::Factor;
    int factor = 30;
    std::int32_t targetBytes = 0;
    ShrinkMode shrink = ShrinkMode::Off;
    int shrinkFloor = kDefaultShrinkFloor;
    QString outputFolder; // empty: beside each input; "-": standard output
    QString suffix;
    bool overwrite = false; // replace existing outputs instead of skipping them
    bool inPlace = false;   // an input may be replaced by its own output
    bool keepDate = false;  // the output gets the input's modification time
    MetadataMode metadata = MetadataMode::None;
    Encoder encoder = Encoder::Tovalin;
};

enum class BatchStatus { Written, Skipped, Failed };

// Why a file was skipped or failed, beside the decoder's, saver's or job's
// own reasons.
enum class BatchProblem {
    None,
    OutputExists,   // skipped: the output is there and may not be replaced
    OutputIsInput,  // an input of the run would be replaced
    OutputTaken,    // an earlier file of the run writes the same output
    NoOutputFolder, // the output's folder cannot be made
    Decode,         // see decodeError
    Job,            // see job.failure (and job.saveError)
    NoShrinkFits,   // shrink to fit: no size meets the target at or under the floor; nothing written
    LinkInOutput,   // a folder on the way below the output folder is a link
    Interrupted,    // stopped while being made, before it was written
    NotStarted,     // the run was stopped before this file began
};

struct PlannedFile {
    BatchInput input;
    QString output;
    BatchProblem conflict = BatchProblem::None;
};

// Each input's output, by the batch naming rule; an output that an earlier
// file of the run takes, or that is another input of the run, is a conflict
// of the later file. An input is replaced only by its own output, and only
// with `inPlace`.
QList<PlannedFile> planOutputs(const QList<BatchInput> &inputs, const BatchOptions &options);

// How many planned outputs without a conflict already stand at their name
// (a link counts itself, whatever it points to).
int existingOutputs(const QList<PlannedFile> &planned);

struct BatchOutcome {
    BatchStatus status = BatchStatus::Failed;
    BatchProblem problem = BatchProblem::None;
    DecodeError decodeError = DecodeError::None;
    QSize claimedSize; // for a picture too large
    ResizeResult job; // its bytes, when the JPEG goes to standard output
    std::int64_t ms = 0;
};

// One picture: read its header, claim its memory, read it whole, decode,
// resize, encode, write. `stdinFile` stands for the input "-".
BatchOutcome runBatchFile(const PlannedFile &file, const BatchOptions &options, JobControl *control, MemoryBudget *budget,
                          const FileBytes &stdinFile = {});

} // namespace tovalin
