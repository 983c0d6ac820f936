// tovalin-bench IMAGE WIDTHxHEIGHT KB | --factor Q  [--out FILE] [--resized FILE.ppm]
// Runs what the Resize button runs (decode, bicubic resize, size search with
// its work files, final save) and prints one "name value" line per figure.
#include "common/formstate.h"
#include "common/memorypolicy.h"
#include "imaging/decode.h"
#include "imaging/image.h"
#include "resize/resizecommand.h"
#include "resize/sizesearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

using namespace tovalin;

namespace {

// Only failures need the window's services here.
class ConsoleWindow : public ResizeWindow {
public:
    int factor = 0;
    bool failed = false;
    void setBusy(bool) override {}
    void showMessage(const QString &text) override
    {
        failed = failed || !text.startsWith(QStringLiteral("最も強い"));
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    bool askYesNo(const QString &) override { return true; }
    QString fieldText(Field) const override { return {}; }
    bool factorModeSelected() const override { return false; }
    void setResultLabel(const QString &) override {}
    void setFactorLabel(const QString &text) override
    {
        factor = text.mid(QStringLiteral("Qファクタは、").size()).chopped(QStringLiteral("でした。").size()).toInt();
    }
    void enablePreviewButton() override {}
};

int usage()
{
    std::fprintf(stderr, "usage: tovalin-bench IMAGE WIDTHxHEIGHT KB|--factor Q [--out FILE] [--resized FILE.ppm]\n");
    return 2;
}

void print(const char *name, double value) { std::printf("%s %.2f\n", name, value); }

} // namespace

int main(int argc, char **argv)
{
    keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString out, resizedPath;
    int factor = 0;
    for (int i = 0; i + 1 < args.size();) {
        if (args[i] == "--out" || args[i] == "--resized" || args[i] == "--factor") {
            const QString value = args[i + 1];
            if (args[i] == "--out")
                out = value;
            else if (args[i] == "--resized")
                resizedPath = value;
            else
                factor = value.toInt();
            args.remove(i, 2);
        } else {
            ++i;
        }
    }
    if (args.size() != (factor ? 2 : 3))
        return usage();
    const QStringList size = args[1].split('x');
    if (size.size() != 2)
        return usage();
    const int width = size[0].toInt();
    const int height = size[1].toInt();

    QTemporaryDir temp;
    FormState state;
    state.outputPath = out.isEmpty() ? temp.filePath("out.jpg") : out;
    state.appFolder = QFileInfo(state.outputPath).absolutePath();

    QElapsedTimer total;
    total.start();
    QElapsedTimer step;
    step.start();
    const DecodeResult decoded = decodeImageFile(args[0]);
    if (!decoded.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(decoded.error));
        return 1;
    }
    ImageHolder viewer;
    viewer.setImage(decoded.image);
    const double decodeMs = step.nsecsElapsed() / 1e6;

    step.restart();
    ImageHolder work;
    work.assignFrom(viewer);
    if (work.resize(width, height) != ResizeOutcome::Done)
        return 1;
    const double resizeMs = step.nsecsElapsed() / 1e6;

    step.restart();
    ConsoleWindow window;
    if (factor) {
        saveWithFactor(window, work.image(), state.outputPath, factor);
        window.factor = factor;
    } else {
        const std::optional<std::int32_t> target = targetBytesFromText(args[2]);
        if (!target)
            return usage();
        saveForTargetSize(window, work.image(), state, *target);
    }
    const double searchMs = step.nsecsElapsed() / 1e6;
    const double totalMs = total.nsecsElapsed() / 1e6;
    if (window.failed)
        return 1;
    if (!resizedPath.isEmpty() && !work.image().save(resizedPath, "PPM"))
        return 1;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    print("decode_ms", decodeMs);
    print("resize_ms", resizeMs);
    print("search_ms", searchMs);
    print("total_ms", totalMs);
    std::printf("bytes %lld\n", static_cast<long long>(QFileInfo(state.outputPath).size()));
    std::printf("factor %d\n", window.factor);
    print("peak_rss_mb", usage.ru_maxrss / 1024.0);
    return 0;
}
