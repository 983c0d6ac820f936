#include "cli/cli.h"

#include "batch/batchrunner.h"
#include "batch/collect.h"
#include "batch/naming.h"
#include "cli/jsonline.h"
#include "common/memorypolicy.h"
#include "common/nativepath.h"
#include "common/numbers.h"
#include "common/savefile.h"
#include "imaging/decode/decode.h"
#include "imaging/jpeg/jpeg.h"
#include "resize/jobfields.h"
#include "resize/sizesearch.h"
#include "texts/texts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace tovalin {

namespace {

std::atomic<int> g_signal{0};

void onSignal(int signal)
{
    g_signal = signal;
}

// What the command line asks for.
struct Request {
    BatchOptions batch;
    QStringList inputs;
    bool recursive = false;
    bool quiet = false;
    bool json = false;
    int jobs = 0;
};

struct Parsed {
    std::optional<Request> request;
    QString usageError; // set when the command line cannot be run
    int exitNow = -1;   // --help, --version: printed, end with this status
};

std::optional<QSize> sizeText(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,5})[xX×](\\d{1,5})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int w = m.captured(1).toInt(), h = m.captured(2).toInt();
    if (w < 1 || h < 1 || w > kMaxJpegSide || h > kMaxJpegSide)
        return std::nullopt;
    return QSize(w, h);
}

Parsed parse(QStringList args, bool ja)
{
    // "--shrink-to-fit" alone takes the encoder's default floor.
    for (QString &a : args)
        if (a == QLatin1String("--shrink-to-fit"))
            a += QStringLiteral("=default");
    QCommandLineParser p;
    const auto value = [](const char *name, const char *valueName) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
    };
    const auto flag = [](const char *shortName, const char *longName) {
        return QCommandLineOption(QStringList{QString::fromLatin1(shortName), QString::fromLatin1(longName)});
    };
    const QCommandLineOption help = flag("h", "help"), version = flag("v", "version"), recursive = flag("r", "recursive");
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("DIR"));
    const QCommandLineOption size = value("size", "WxH"), scale = value("scale", "P"), longEdge = value("long-edge", "N"),
                             fit = value("fit", "WxH"), factor = value("factor", "Q"), kb = value("kb", "N"),
                             shrink = value("shrink-to-fit", "Q"), suffix = value("suffix", "S"),
                             metadata = value("metadata", "none|safe"), encoder = value("encoder", "tovalin|libjpeg");
    const QCommandLineOption jobs(QStringList{QStringLiteral("j"), QStringLiteral("jobs")}, QString(), QStringLiteral("N"));
    const QCommandLineOption noEnlarge(QStringLiteral("no-enlarge")), overwrite(QStringLiteral("overwrite")),
        inPlace(QStringLiteral("in-place")), keepDate(QStringLiteral("keep-date")), json(QStringLiteral("json")),
        baseline(QStringLiteral("baseline"));
    const QCommandLineOption quiet = flag("q", "quiet");
    p.addOptions({help, version, recursive, output, size, scale, longEdge, fit, noEnlarge, factor, kb, shrink, suffix,
                  overwrite, inPlace, keepDate, metadata, encoder, baseline, jobs, quiet, json});
    Parsed out;
    if (!p.parse(args)) {
        out.usageError = p.errorText();
        return out;
    }
    if (p.isSet(help)) {
        std::fputs(nativePath(text::cliHelp(ja)).constData(), stdout);
        out.exitNow = 0;
        return out;
    }
    if (p.isSet(version)) {
        std::printf("tovalin-cli %s\n", TOVALIN_VERSION);
        out.exitNow = 0;
        return out;
    }
    const auto bad = [&](const QCommandLineOption &o) {
        out.usageError = text::kBadOptionValue.in(ja).arg(QStringLiteral("--") + o.names().last(), p.value(o));
        return out;
    };
    Request r;
    r.inputs = p.positionalArguments();
    r.recursive = p.isSet(recursive);
    r.quiet = p.isSet(quiet);
    r.json = p.isSet(json);
    BatchOptions &b = r.batch;
    b.outputFolder = p.value(output);
    b.suffix = p.value(suffix);
    b.overwrite = p.isSet(overwrite);
    b.inPlace = p.isSet(inPlace);
    b.keepDate = p.isSet(keepDate);
    b.size.noEnlarge = p.isSet(noEnlarge);
    if (int(p.isSet(size)) + p.isSet(scale) + p.isSet(longEdge) + p.isSet(fit) > 1) {
        out.usageError = text::kOneSizeOption.in(ja);
        return out;
    }
    if (p.isSet(size) || p.isSet(fit)) {
        const QCommandLineOption &o = p.isSet(size) ? size : fit;
        const std::optional<QSize> s = sizeText(p.value(o));
        if (!s)
            return bad(o);
        b.size.kind = p.isSet(size) ? SizeRule::Exact : SizeRule::Fit;
        b.size.width = s->width();
        b.size.height = s->height();
    } else if (p.isSet(scale)) {
        const std::optional<int> v = percentFromText(p.value(scale));
        if (!v)
            return bad(scale);
        b.size.kind = SizeRule::Scale;
        b.size.percent = *v;
    } else if (p.isSet(longEdge)) {
        const std::optional<int> v = edgeFromText(p.value(longEdge));
        if (!v)
            return bad(longEdge);
        b.size.kind = SizeRule::LongEdge;
        b.size.edge = *v;
    }
    if (p.isSet(factor) && p.isSet(kb)) {
        out.usageError = text::kFactorOrKb.in(ja);
        return out;
    }
    if (p.isSet(factor)) {
        const std::optional<int> q = factorFromText(p.value(factor));
        if (!q)
            return bad(factor);
        b.factor = *q;
    }
    if (p.isSet(kb)) {
        const TargetReading t = targetFromText(p.value(kb));
        if (t.problem != FieldProblem::None)
            return bad(kb);
        b.mode = JobMode::TargetSize;
        b.targetBytes = t.bytes;
    }
    if (p.isSet(encoder) && p.value(encoder) != QLatin1String("tovalin") && p.value(encoder) != QLatin1String("libjpeg"))
        return bad(encoder);
    // libjpeg's files are baseline anyway.
    b.encoder = p.value(encoder) == QLatin1String("libjpeg") ? Encoder::Libjpeg
                : p.isSet(baseline)                          ? Encoder::TovalinBaseline
                                                             : Encoder::Tovalin;
    if (p.isSet(shrink)) {
        const std::optional<int> q =
            p.value(shrink) == QLatin1String("default") ? defaultShrinkFloor(b.encoder) : factorFromText(p.value(shrink));
        if (!q)
            return bad(shrink);
        if (!p.isSet(kb)) {
            out.usageError = text::kShrinkNeedsKb.in(ja);
            return out;
        }
        b.shrink = ShrinkMode::Apply;
        b.shrinkFloor = *q;
    }
    if (p.isSet(metadata)) {
        if (p.value(metadata) != QLatin1String("none") && p.value(metadata) != QLatin1String("safe"))
            return bad(metadata);
        b.metadata = p.value(metadata) == QLatin1String("safe") ? MetadataMode::Safe : MetadataMode::None;
    }
    r.jobs = defaultJobs();
    if (p.isSet(jobs)) {
        const std::optional<int> n = wholeNumberIn(p.value(jobs), 1, 256);
        if (!n)
            return bad(jobs);
        r.jobs = *n;
    }
    if (r.inputs.isEmpty())
        out.usageError = text::kNoInputs.in(ja);
    else if (p.isSet(output) && b.outputFolder.isEmpty())
        out.usageError = text::kEmptyOutput.in(ja);
    else if (!suffixUsable(b.suffix))
        out.usageError = text::kSuffixWithSlash.in(ja);
    else if (r.inputs.contains(QStringLiteral("-")) && b.outputFolder.isEmpty())
        out.usageError = text::kStdinNeedsOutput.in(ja);
    else if (r.inputs.count(QStringLiteral("-")) > 1)
        out.usageError = text::kOneStdin.in(ja);
    else if (b.outputFolder == QLatin1String("-") && r.json)
        out.usageError = text::kJsonWithStdout.in(ja);
    else if (b.inPlace && !b.outputFolder.isEmpty())
        out.usageError = text::kInPlaceNeedsBeside.in(ja);
    if (out.usageError.isEmpty())
        out.request = r;
    return out;
}

// A stable English name of what went wrong, for scripts.
QString errorCode(const BatchOutcome &o)
{
    switch (o.problem) {
    case BatchProblem::None: return {};
    case BatchProblem::OutputExists: return QStringLiteral("output_exists");
    case BatchProblem::OutputIsInput: return QStringLiteral("output_is_input");
    case BatchProblem::OutputTaken: return QStringLiteral("output_taken");
    case BatchProblem::NoOutputFolder: return QStringLiteral("no_output_folder");
    case BatchProblem::NoShrinkFits: return QStringLiteral("no_size_fits");
    case BatchProblem::LinkInOutput: return QStringLiteral("link_in_output");
    case BatchProblem::Interrupted: return QStringLiteral("interrupted");
    case BatchProblem::NotStarted: return QStringLiteral("not_started");
    case BatchProblem::Decode:
        switch (o.decodeError) {
        case DecodeError::NotFound: return QStringLiteral("not_found");
        case DecodeError::IsFolder: return QStringLiteral("is_folder");
        case DecodeError::CannotOpen: return QStringLiteral("cannot_open");
        case DecodeError::UnknownFormat: return QStringLiteral("not_a_picture");
        case DecodeError::Truncated: return QStringLiteral("truncated");
        case DecodeError::Damaged: return QStringLiteral("damaged");
        case DecodeError::NoPixels: return QStringLiteral("no_pixels");
        case DecodeError::TooLarge: return QStringLiteral("too_large");
        case DecodeError::OutOfMemory: return QStringLiteral("out_of_memory");
        case DecodeError::None: break;
        }
        break;
    case BatchProblem::Job:
        switch (o.job.failure) {
        case JobFailure::OutOfMemory: return QStringLiteral("out_of_memory");
        case JobFailure::EncodeFailed: return QStringLiteral("encode_failed");
        case JobFailure::Cancelled: return QStringLiteral("interrupted");
        case JobFailure::NoSizeFits: return QStringLiteral("no_size_fits");
        case JobFailure::SaveFailed:
            switch (o.job.saveError) {
            case SaveError::NoFileName: return QStringLiteral("no_file_name");
            case SaveError::IsFolder: return QStringLiteral("output_is_folder");
            case SaveError::NoFolder: return QStringLiteral("no_output_folder");
            case SaveError::NameTooLong: return QStringLiteral("name_too_long");
            case SaveError::FolderNotWritable: return QStringLiteral("folder_not_writable");
            case SaveError::FileReadOnly: return QStringLiteral("output_read_only");
            case SaveError::LinkNotReplaceable: return QStringLiteral("link_not_replaceable");
            case SaveError::DiskFull: return QStringLiteral("disk_full");
            case SaveError::Exists: return QStringLiteral("output_exists");
            case SaveError::WriteFailed:
            case SaveError::None: return QStringLiteral("write_failed");
            }
            break;
        case JobFailure::None: break;
        }
        break;
    }
    return QStringLiteral("failed");
}

QString passedCode(Passed why)
{
    switch (why) {
    case Passed::Hidden: return QStringLiteral("hidden");
    case Passed::Temporary: return QStringLiteral("temporary_file");
    case Passed::OwnOutput: return QStringLiteral("own_output");
    case Passed::NotPicture: return QStringLiteral("not_a_picture");
    case Passed::SubfolderNotWalked: return QStringLiteral("subfolder_not_walked");
    case Passed::FolderLink: return QStringLiteral("folder_link");
    case Passed::OutputFolder: return QStringLiteral("output_folder");
    case Passed::Duplicate: return QStringLiteral("duplicate");
    case Passed::Unreadable: return QStringLiteral("unreadable");
    }
    return QStringLiteral("skipped");
}

// Standard error's progress line, on a terminal only.
class Progress {
public:
    Progress(int total, bool shown) : m_total(total), m_shown(shown) { m_clock.start(); }
    void clear() const
    {
        if (m_shown)
            std::fputs("\r\033[K", stderr);
    }
    void draw(int done) const
    {
        if (!m_shown)
            return;
        constexpr int kWidth = 24;
        const int filled = m_total ? done * kWidth / m_total : kWidth;
        const double seconds = m_clock.elapsed() / 1000.0;
        const double rate = seconds > 0 ? done / seconds : 0;
        const int left = rate > 0 ? int((m_total - done) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r\033[K[%s%s] %d/%d  %.1f/s  %d:%02d", QByteArray(filled, '#').constData(),
                     QByteArray(kWidth - filled, '.').constData(), done, m_total, rate, left / 60, left % 60);
        std::fflush(stderr);
    }

private:
    int m_total;
    bool m_shown;
    QElapsedTimer m_clock;
};

// Standard input's picture, read up to the same bound as a file's.
FileBytes readStandardInput()
{
    FileBytes in;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            in.error = DecodeError::CannotOpen;
        if (n <= 0)
            break;
        if (in.bytes.size() + n > maxFileBytes()) {
            in.bytes.clear();
            in.error = DecodeError::TooLarge;
            break;
        }
        in.bytes.append(buffer, n);
    }
    in.fileSize = in.bytes.size();
    return in;
}

// A line for people: control bytes and bytes that are not UTF-8 in names
// are shown as \xHH, so no name moves the cursor or forges a line.
QByteArray forPeople(const QByteArray &line)
{
    QByteArray out;
    const auto *p = reinterpret_cast<const unsigned char *>(line.constData());
    const qsizetype size = line.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char c = p[i];
        int length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 4 : 0;
        for (int k = 1; k < length; ++k)
            if (i + k >= size || (p[i + k] & 0xC0) != 0x80)
                length = 0;
        // Overlong three- and four-byte forms, surrogates, and past U+10FFFF.
        if (length == 3 && ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0)))
            length = 0;
        if (length == 4 && ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90)))
            length = 0;
        if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            ++i;
            continue;
        }
        out.append(line.constData() + i, length);
        i += length;
    }
    return out;
}

void printLine(FILE *to, const QString &line)
{
    std::fputs((forPeople(nativePath(line)) + '\n').constData(), to);
    std::fflush(to);
}

int exitStatus(int signal, const text::BatchCounts &counts)
{
    if (signal)
        return 128 + signal;
    if (counts.failed > 0)
        return 1;
    return counts.overTarget > 0 ? 3 : 0;
}

} // namespace

int runCli(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // for Qt's picture readers
    setReaderLimits();
    QStringList args; // the program's name first, as the parser expects
    for (int i = 0; i < argc; ++i)
        args << pathFromNative(QByteArray(argv[i]));
    const bool ja = text::prefersJapanese();
    const Parsed parsed = parse(args, ja);
    if (parsed.exitNow >= 0)
        return parsed.exitNow;
    if (!parsed.request) {
        printLine(stderr, QStringLiteral("tovalin-cli: ") + parsed.usageError);
        std::fputs(nativePath(text::kTryHelp.in(ja)).constData(), stderr);
        return 2;
    }
    const Request &r = *parsed.request;
    const bool toStdout = r.batch.outputFolder == QLatin1String("-");
    const Collected collected = collectInputs(r.inputs, {r.recursive, r.batch.outputFolder, r.batch.suffix});
    if (toStdout && collected.inputs.size() != 1) {
        printLine(stderr, QStringLiteral("tovalin-cli: ") + text::kStdoutOneInput.in(ja));
        return 2;
    }
    const QList<PlannedFile> planned = planOutputs(collected.inputs, r.batch);
    const FileBytes stdinFile = r.inputs.contains(QStringLiteral("-")) ? readStandardInput() : FileBytes{};
    const std::int64_t budget = defaultBatchMemory();
    const int jobs = jobsWithin(r.jobs, budget);

    // A stop asked for by a signal: files being made are abandoned, files
    // being written finish, nothing half-written is left. A closed pipe is
    // a write error, not a signal.
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const bool human = !r.quiet && !r.json;
    if (jobs < r.jobs && !r.quiet)
        printLine(stderr, QStringLiteral("tovalin-cli: ") + text::kJobsLowered.in(ja).arg(jobs));
    text::BatchCounts counts;
    bool streamBroken = false; // standard output refused a JSON line: nothing more can be reported
    const auto jsonOut = [&](const JsonLine &line) {
        if (!streamBroken && !writeAllBytes(STDOUT_FILENO, line.line()))
            streamBroken = true;
        return !streamBroken;
    };
    // Entries of walked folders that are not processed: each said, and counted.
    for (const PassedEntry &e : collected.passed) {
        const bool unreadable = e.why == Passed::Unreadable;
        (unreadable ? counts.failed : counts.skipped) += 1;
        ++counts.passed[e.why];
        if (r.json) {
            JsonLine line;
            line.add("input", e.path).addNull("output").add("status", QString::fromLatin1(unreadable ? "failed" : "skipped"));
            for (const char *key : {"width", "height", "bytes", "factor", "trials"})
                line.addNull(key);
            line.add("over_target", false).add("ms", std::optional<long long>(0));
            line.add("error_code", passedCode(e.why)).add("error", text::passedReason(e.why, ja));
            if (!jsonOut(line))
                counts.failed += !unreadable;
        } else if (unreadable) {
            printLine(stderr, text::failedLine(e.path, text::passedReason(e.why, ja)));
        }
    }
    Progress progress(int(planned.size()), !r.quiet && !toStdout && isatty(STDERR_FILENO));
    int done = 0;
    BatchRunner runner(planned, r.batch, jobs, budget, [&](int index, BatchOutcome o) {
        const PlannedFile &f = planned[index];
        ++done;
        progress.clear();
        if (toStdout && o.status == BatchStatus::Written) {
            if (!writeAllBytes(STDOUT_FILENO, o.job.bytes)) {
                o.status = BatchStatus::Failed;
                o.problem = BatchProblem::Job;
                o.job.failure = JobFailure::SaveFailed;
                o.job.saveError = errno == ENOSPC ? SaveError::DiskFull : SaveError::WriteFailed;
            }
        }
        const bool over = o.status == BatchStatus::Written && o.job.overTarget;
        const QString reason = text::batchProblem(o, f.output, ja, true);
        if (r.json) {
            const bool ok = o.status == BatchStatus::Written;
            JsonLine line;
            line.add("input", f.input.path).add("output", f.output);
            line.add("status", QString::fromLatin1(ok ? "written" : o.status == BatchStatus::Skipped ? "skipped" : "failed"));
            const auto known = [ok](long long v) { return ok ? std::optional<long long>(v) : std::nullopt; };
            line.add("width", known(o.job.width)).add("height", known(o.job.height)).add("bytes", known(o.job.bytesWritten));
            line.add("factor", known(o.job.factor));
            line.add("trials", ok && r.batch.mode == JobMode::TargetSize ? std::optional<long long>(o.job.trials) : std::nullopt);
            line.add("over_target", over).add("ms", std::optional<long long>(o.ms));
            if (ok)
                line.addNull("error_code").addNull("error");
            else
                line.add("error_code", errorCode(o)).add("error", reason);
            if (!jsonOut(line)) {
                o.status = BatchStatus::Failed; // unreported is not done
                runner.stopSoon();
            }
        } else if (o.status == BatchStatus::Failed) {
            printLine(stderr, text::failedLine(f.input.path, reason));
        } else if (human && o.status == BatchStatus::Skipped) {
            printLine(toStdout ? stderr : stdout, text::skippedLine(f.input.path, f.output, ja));
        } else if (human || over) {
            printLine(toStdout || !human ? stderr : stdout,
                      text::writtenLine(f.input.path, f.output, o.job.width, o.job.height, o.job.bytesWritten, o.job.factor, over, ja));
        }
        counts.written += o.status == BatchStatus::Written;
        counts.skipped += o.status == BatchStatus::Skipped;
        counts.failed += o.status == BatchStatus::Failed;
        counts.overTarget += over;
        progress.draw(done);
    });
    runner.watch(&g_signal);
    progress.draw(0);
    runner.run(stdinFile);
    progress.clear();
    if (g_signal)
        printLine(stderr, QStringLiteral("tovalin-cli: ") + text::kInterrupted.in(ja));
    else if (!r.quiet && (planned.size() + collected.passed.size() > 1 || counts.overTarget > 0))
        printLine(stderr, text::summaryLine(counts, ja));
    if (streamBroken)
        printLine(stderr, QStringLiteral("tovalin-cli: ") + text::kOutputUnwritable.in(ja));
    return exitStatus(g_signal, counts);
}

} // namespace tovalin
