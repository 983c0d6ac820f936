// tovalin-bench IMAGE WIDTHxHEIGHT|full KB | --factor Q  [--out FILE] [--decode-only] [--encoder libjpeg]
// Runs what the Resize button runs, on any picture the window takes: decode,
// then the resize job (bicubic resize, size search with its work files, final
// save), and prints one "name value" line per figure.
#include "common/memorypolicy.h"
#include "imaging/decode/decode.h"
#include "resize/resizejob.h"
#include "resize/sizesearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

using namespace tovalin;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: tovalin-bench IMAGE WIDTHxHEIGHT|full KB|--factor Q [--out FILE] [--decode-only] [--encoder libjpeg]\n");
    return 2;
}

void print(const char *name, double value) { std::printf("%s %.2f\n", name, value); }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setReaderLimits();
    QStringList args = app.arguments().mid(1);
    QString out;
    int factor = 0;
    const bool decodeOnly = args.removeAll(QStringLiteral("--decode-only")) > 0;
    // libjpeg's encoder, as Tovalin wrote before its own: for comparing the two.
    const int at = int(args.indexOf(QStringLiteral("--encoder")));
    const bool libjpeg = at >= 0 && args.value(at + 1) == QLatin1String("libjpeg");
    if (at >= 0) {
        if (!libjpeg)
            return usage();
        args.remove(at, 2);
    }
    for (int i = 0; i + 1 < args.size();) {
        if (args[i] == "--out" || args[i] == "--factor") {
            if (args[i] == "--out")
                out = args[i + 1];
            else
                factor = args[i + 1].toInt();
            args.remove(i, 2);
        } else {
            ++i;
        }
    }
    if (args.size() != (factor || decodeOnly ? 2 : 3) && !(decodeOnly && args.size() == 1))
        return usage();

    QElapsedTimer total;
    total.start();
    const DecodeResult decoded = decodeImageFile(args[0]);
    if (decoded.error != DecodeError::None) {
        std::fprintf(stderr, "cannot decode (%d)\n", int(decoded.error));
        return 1;
    }
    const double decodeMs = total.nsecsElapsed() / 1e6;
    if (decodeOnly) {
        print("decode_ms", decodeMs);
        return 0;
    }

    ResizeRequest request;
    request.source = decoded.image;
    if (args[1] == "full") {
        request.settings.width = decoded.image.width();
        request.settings.height = decoded.image.height();
    } else {
        const QStringList size = args[1].split('x');
        if (size.size() != 2)
            return usage();
        request.settings.width = size[0].toInt();
        request.settings.height = size[1].toInt();
    }
    QTemporaryDir temp;
    request.outputPath = out.isEmpty() ? temp.filePath("out.jpg") : out;
    request.workFolder = QFileInfo(request.outputPath).absolutePath();
    if (factor) {
        request.settings.mode = JobMode::Factor;
        request.settings.factor = factor;
    } else {
        const TargetReading target = targetFromText(args[2]);
        if (target.problem != FieldProblem::None)
            return usage();
        request.settings.targetBytes = target.bytes;
    }
    if (libjpeg)
        request.settings.encoder = Encoder::Libjpeg;
    const ResizeResult result = runResizeJob(request);
    const double totalMs = total.nsecsElapsed() / 1e6;
    if (result.failure != JobFailure::None) {
        std::fprintf(stderr, "job failed (%d)\n", int(result.failure));
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    print("decode_ms", decodeMs);
    print("job_ms", totalMs - decodeMs);
    print("total_ms", totalMs);
    std::printf("bytes %lld\n", static_cast<long long>(result.bytesWritten));
    std::printf("factor %d\n", result.factor);
    std::printf("trials %d\n", result.trials);
    print("peak_rss_mb", usage.ru_maxrss / 1024.0);
    return 0;
}
