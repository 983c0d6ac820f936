#include "batch/batchjob.h"

#include "batch/metadata.h"
#include "batch/naming.h"
#include "common/memorypolicy.h"
#include "common/nativepath.h"
#include "common/samefile.h"
#include "imaging/jpeg/jpeg.h"

#include <QElapsedTimer>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace tovalin {

QList<PlannedFile> planOutputs(const QList<BatchInput> &inputs, const BatchOptions &options)
{
    QSet<FileId> inputIds;
    QSet<QString> inputPaths;
    for (const BatchInput &input : inputs) {
        inputPaths.insert(absolutePath(input.path));
        if (const std::optional<FileId> id = fileId(input.path))
            inputIds.insert(*id);
    }
    QSet<QString> taken;
    QList<PlannedFile> planned;
    for (const BatchInput &input : inputs) {
        PlannedFile p{input, {}, BatchProblem::None};
        if (options.outputFolder == QLatin1String("-")) {
            p.output = options.outputFolder;
            planned.push_back(p);
            continue;
        }
        const QString folder = options.outputFolder.isEmpty() ? folderOf(absolutePath(input.path))
                                                              : joinedPath(absolutePath(options.outputFolder), input.subfolder);
        p.output = absolutePath(batchOutputPath(input.path, folder, options.suffix, options.inPlace));
        const std::optional<FileId> outputId = fileId(p.output);
        const bool ownInput = p.output == absolutePath(input.path) || sameFile(p.output, input.path);
        if (taken.contains(p.output))
            p.conflict = BatchProblem::OutputTaken;
        else if (!options.inPlace && !ownInput && (inputPaths.contains(p.output) || (outputId && inputIds.contains(*outputId))))
            p.conflict = BatchProblem::OutputIsInput;
        taken.insert(p.output);
        planned.push_back(p);
    }
    return planned;
}

namespace {

// What a picture's job holds at its peak, from its header: the decoder's
// buffers, the source, and at the output size the resized picture and the
// encoder's coefficients.
std::int64_t expectedBytes(QSize source, QSize output, std::int64_t fileBytes)
{
    constexpr std::int64_t kFixed = 16 << 20;
    if (!source.isValid())
        return fileBytes + (64 << 20);
    return std::int64_t(source.width()) * source.height() * 6 + std::int64_t(output.width()) * output.height() * 9
           + fileBytes + kFixed;
}

// mkdir -p, on the names' own bytes.
bool makeFolders(const QString &folder)
{
    const QByteArray path = nativePath(folder);
    for (qsizetype at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const QByteArray part = path.left(at);
        struct stat st {};
        if (::stat(part.constData(), &st) == 0 ? !S_ISDIR(st.st_mode) : ::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

class Claim {
public:
    Claim(MemoryBudget *budget, std::int64_t bytes) : m_budget(budget), m_bytes(bytes)
    {
        if (m_budget)
            m_budget->acquire(m_bytes);
    }
    ~Claim()
    {
        if (m_budget)
            m_budget->release(m_bytes);
    }
    Claim(const Claim &) = delete;
    Claim &operator=(const Claim &) = delete;

private:
    MemoryBudget *m_budget;
    std::int64_t m_bytes;
};

BatchOutcome failed(BatchProblem problem)
{
    BatchOutcome o;
    o.problem = problem;
    return o;
}

BatchOutcome notDecoded(DecodeError error, QSize claimed = {})
{
    BatchOutcome o = failed(BatchProblem::Decode);
    o.decodeError = error;
    o.claimedSize = claimed;
    return o;
}

} // namespace

BatchOutcome runBatchFile(const PlannedFile &file, const BatchOptions &options, JobControl *control, MemoryBudget *budget,
                          const QByteArray &stdinBytes)
{
    QElapsedTimer clock;
    clock.start();
    BatchOutcome o = [&] {
        if (file.conflict != BatchProblem::None)
            return failed(file.conflict);
        const bool toStdout = file.output == QLatin1String("-");
        const bool replacingOwnInput = options.inPlace && sameFile(file.output, file.input.path);
        struct stat existing {};
        const bool exists = !toStdout && ::lstat(nativePath(file.output).constData(), &existing) == 0;
        if (exists && !options.overwrite && !replacingOwnInput) {
            BatchOutcome skipped = failed(BatchProblem::OutputExists);
            skipped.status = BatchStatus::Skipped;
            return skipped;
        }
        if (!toStdout && !makeFolders(folderOf(file.output)))
            return failed(BatchProblem::NoOutputFolder);

        FileBytes input = file.input.path == QLatin1String("-") ? FileBytes{stdinBytes, DecodeError::None}
                                                                   : readImageFile(file.input.path);
        if (input.error != DecodeError::None)
            return notDecoded(input.error);
        const QSize claimed = claimedPictureSize(input.bytes);
        const QSize expected = claimed.isValid() && !claimed.isEmpty() ? targetSize(options.size, claimed) : QSize();
        const Claim claim(budget, expectedBytes(claimed, expected, input.bytes.size()));
        if (control && control->cancel)
            return failed(BatchProblem::Interrupted);

        ResizeRequest request;
        if (options.metadata == MetadataMode::Safe)
            request.metadata = safeMetadataSegment(input.bytes);
        DecodeResult decoded = decodeImageData(input.bytes);
        input.bytes = QByteArray();
        if (decoded.error != DecodeError::None)
            return notDecoded(decoded.error, decoded.size);
        const QSize size = targetSize(options.size, decoded.image.size());
        if (size.width() > kMaxJpegSide || size.height() > kMaxJpegSide || !pixelsWithinBudget(size.width(), size.height())) {
            BatchOutcome o = failed(BatchProblem::Job);
            o.job.failure = JobFailure::OutOfMemory;
            return o;
        }
        request.source = std::move(decoded.image);
        request.settings.width = size.width();
        request.settings.height = size.height();
        request.settings.mode = options.mode;
        request.settings.factor = options.factor;
        request.settings.targetBytes = options.targetBytes;
        request.outputPath = toStdout ? QString() : file.output;
        request.shrink = options.mode == JobMode::TargetSize ? options.shrink : ShrinkMode::Off;
        request.shrinkFloor = options.shrinkFloor;
        BatchOutcome o;
        o.job = runResizeJob(request, control);
        if (o.job.failure == JobFailure::Cancelled)
            return failed(BatchProblem::Interrupted);
        if (o.job.failure != JobFailure::None) {
            o.problem = BatchProblem::Job;
            return o;
        }
        o.status = BatchStatus::Written;
        if (options.keepDate && !toStdout && file.input.path != QLatin1String("-")) {
            struct stat st {};
            if (::stat(nativePath(file.input.path).constData(), &st) == 0) {
                const timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, nativePath(file.output).constData(), times, AT_SYMLINK_NOFOLLOW);
            }
        }
        return o;
    }();
    o.ms = clock.elapsed();
    return o;
}

} // namespace tovalin
