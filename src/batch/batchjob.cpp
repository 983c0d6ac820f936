#include "batch/batchjob.h"

#include "batch/metadata.h"
#include "batch/naming.h"
#include "common/memorypolicy.h"
#include "common/nativepath.h"
#include "common/samefile.h"
#include "imaging/jpeg/jpeg.h"

#include <QElapsedTimer>
#include <QSet>

#include <new>

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
        // --in-place and --overwrite or not: another input is never replaced.
        if (!ownInput && (inputPaths.contains(p.output) || (outputId && inputIds.contains(*outputId))))
            p.conflict = BatchProblem::OutputIsInput;
        else if (taken.contains(p.output))
            p.conflict = BatchProblem::OutputTaken;
        if (p.conflict == BatchProblem::None) // a refused file writes nothing
            taken.insert(p.output);
        planned.push_back(p);
    }
    return planned;
}

int existingOutputs(const QList<PlannedFile> &planned)
{
    int existing = 0;
    for (const PlannedFile &p : planned) {
        struct stat st {};
        existing += p.conflict == BatchProblem::None && p.output != QLatin1String("-")
                    && ::lstat(nativePath(p.output).constData(), &st) == 0;
    }
    return existing;
}

namespace {

// mkdir -p, on the names' own bytes. The output folder itself may be
// reached through links; below it (`from` on) no link is followed, so
// nothing planted there sends a file elsewhere.
BatchProblem makeFolders(const QString &folder, const QString &root)
{
    const QByteArray path = nativePath(folder);
    const qsizetype from = root.isEmpty() ? path.size() : nativePath(absolutePath(root)).size();
    for (qsizetype at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const QByteArray part = path.left(at);
        struct stat st {};
        const bool below = at > from;
        if ((below ? ::lstat(part.constData(), &st) : ::stat(part.constData(), &st)) == 0) {
            if (S_ISLNK(st.st_mode))
                return BatchProblem::LinkInOutput;
            if (!S_ISDIR(st.st_mode))
                return BatchProblem::NoOutputFolder;
        } else if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST) {
            return BatchProblem::NoOutputFolder;
        }
    }
    return BatchProblem::None;
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

BatchOutcome outputExists()
{
    BatchOutcome o = failed(BatchProblem::OutputExists);
    o.status = BatchStatus::Skipped;
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
                          const FileBytes &stdinFile)
{
    QElapsedTimer clock;
    clock.start();
    const auto run = [&] {
        if (file.conflict != BatchProblem::None)
            return failed(file.conflict);
        const bool toStdout = file.output == QLatin1String("-");
        const bool fromStdin = file.input.path == QLatin1String("-");
        const bool replacingOwnInput = options.inPlace && sameFile(file.output, file.input.path);
        const bool mayReplace = options.overwrite || replacingOwnInput;
        struct stat existing {};
        const bool exists = !toStdout && ::lstat(nativePath(file.output).constData(), &existing) == 0;
        if (exists && !mayReplace)
            return outputExists();
        if (!toStdout) {
            const BatchProblem folder = makeFolders(folderOf(file.output), options.outputFolder);
            if (folder != BatchProblem::None)
                return failed(folder);
        }

        // The memory is claimed from the header, before the file is read whole.
        FileBytes input = fromStdin ? stdinFile : readImageFile(file.input.path, kHeadBytes);
        if (input.error != DecodeError::None)
            return notDecoded(input.error);
        const QSize claimed = claimedPictureSize(input.bytes);
        const QSize expected = claimed.isValid() && !claimed.isEmpty() ? targetSize(options.size, claimed) : QSize();
        const Claim claim(budget, jobPeakBytes(claimed.isValid() ? std::int64_t(claimed.width()) * claimed.height() : 0,
                                               expected.isValid() ? std::int64_t(expected.width()) * expected.height() : 0,
                                               input.fileSize));
        if (control && control->stopped())
            return failed(BatchProblem::Interrupted);
        if (input.bytes.size() < input.fileSize) {
            input = readImageFile(file.input.path);
            if (input.error != DecodeError::None)
                return notDecoded(input.error);
        }

        ResizeRequest request;
        request.shrink = options.mode == JobMode::TargetSize ? options.shrink : ShrinkMode::Off;
        if (options.metadata == MetadataMode::Safe)
            request.metadata = safeMetadataSegment(input.bytes);
        const auto makeable = [](QSize size) {
            return size.width() <= kMaxJpegSide && size.height() <= kMaxJpegSide && pixelsWithinBudget(size.width(), size.height());
        };
        // Resized as it is decoded where it can be; shrink to fit resizes
        // the whole picture again, so it keeps it.
        SizeFor resizeTo;
        if (request.shrink == ShrinkMode::Off)
            resizeTo = [&](QSize picture) {
                const QSize size = targetSize(options.size, picture);
                return makeable(size) ? size : QSize();
            };
        DecodeResult decoded = decodeImageData(input.bytes, resizeTo);
        input.bytes = QByteArray();
        if (decoded.error != DecodeError::None)
            return notDecoded(decoded.error, decoded.size);
        const QSize size = decoded.resized ? decoded.image.size() : targetSize(options.size, decoded.image.size());
        if (!makeable(size)) {
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
        request.settings.encoder = options.encoder;
        request.outputPath = toStdout ? QString() : file.output;
        request.shrinkFloor = options.shrinkFloor;
        // The save itself keeps a file that appeared since the check above.
        request.existing = mayReplace ? Existing::Replace : Existing::Keep;
        BatchOutcome o;
        o.job = runResizeJob(request, control);
        if (o.job.failure == JobFailure::Cancelled)
            return failed(BatchProblem::Interrupted);
        if (o.job.failure == JobFailure::NoSizeFits)
            return failed(BatchProblem::NoShrinkFits);
        if (o.job.failure == JobFailure::SaveFailed && o.job.saveError == SaveError::Exists)
            return outputExists();
        if (o.job.failure != JobFailure::None) {
            o.problem = BatchProblem::Job;
            return o;
        }
        o.status = BatchStatus::Written;
        if (options.keepDate && !toStdout && !fromStdin) {
            struct stat st {};
            if (::stat(nativePath(file.input.path).constData(), &st) == 0) {
                const timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, nativePath(file.output).constData(), times, AT_SYMLINK_NOFOLLOW);
            }
        }
        return o;
    };
    // A picture whose buffers cannot be had fails alone; the batch goes on.
    BatchOutcome o;
    try {
        o = run();
    } catch (const std::bad_alloc &) {
        o = notDecoded(DecodeError::OutOfMemory);
    }
    o.ms = clock.elapsed();
    return o;
}

} // namespace tovalin
