#include "resize/resizecommand.h"

#include "common/formstate.h"
#include "common/numbers.h"
#include "imaging/image.h"
#include "imaging/jpeg.h"
#include "imaging/savefile.h"
#include "resize/encodingcache.h"
#include "resize/messages.h"
#include "resize/sizesearch.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <unistd.h>

namespace tovalin {

QString text::resultText(qint64 bytes)
{
    return decimalText(kilobyteFigure(bytes)) + QStringLiteral("kb ") + decimalText(bytes)
           + QStringLiteral("Byteにリサイズしました。");
}

QString text::factorText(int factor)
{
    return QStringLiteral("Qファクタは、") + decimalText(factor) + QStringLiteral("でした。");
}

namespace {

constexpr int kMaxSide = 65535;

// The pointer shows busy from the first step and is restored on every way out.
class BusyPointer {
public:
    explicit BusyPointer(ResizeWindow &w) : m_window(w) { m_window.setBusy(true); }
    ~BusyPointer() { m_window.setBusy(false); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;

private:
    ResizeWindow &m_window;
};

std::optional<int> readSide(const QString &text)
{
    const std::optional<double> v = readNumber(text);
    if (!v || *v != static_cast<double>(static_cast<long long>(*v)) || *v < 1 || *v > kMaxSide)
        return std::nullopt;
    return static_cast<int>(*v);
}

std::optional<int> readFactor(const QString &text)
{
    const std::optional<double> v = readNumber(text);
    if (!v)
        return std::nullopt;
    const double q = roundHalfEven(*v);
    if (q < kBestFactor || q > kStrongestFactor)
        return std::nullopt;
    return static_cast<int>(q);
}

// The source, the resampler's intermediate rows and the result must fit
// with room to spare; beyond half the machine's memory we refuse.
bool fitsInMemory(int width, int height)
{
    const double bytes = 2.0 * 3.0 * width * height;
    const double physical = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
    return bytes <= physical / 2;
}

struct Inputs {
    int width = 0;
    int height = 0;
    bool factorMode = true;
    int factor = 0;
    std::int32_t target = 0;
};

// Every field is checked before anything changes; the first bad one is named.
std::optional<Inputs> readInputs(ResizeWindow &window)
{
    Inputs in;
    const std::optional<int> w = readSide(window.fieldText(ResizeWindow::Field::Width));
    if (!w) {
        window.showMessage(text::kBadWidth);
        return std::nullopt;
    }
    const std::optional<int> h = readSide(window.fieldText(ResizeWindow::Field::Height));
    if (!h) {
        window.showMessage(text::kBadHeight);
        return std::nullopt;
    }
    if (!fitsInMemory(*w, *h)) {
        window.showMessage(text::kTooLarge.arg(*w).arg(*h));
        return std::nullopt;
    }
    in.width = *w;
    in.height = *h;
    in.factorMode = window.factorModeSelected();
    if (in.factorMode) {
        const std::optional<int> q = readFactor(window.fieldText(ResizeWindow::Field::Factor));
        if (!q) {
            window.showMessage(text::kBadFactor);
            return std::nullopt;
        }
        in.factor = *q;
    } else {
        const std::optional<std::int32_t> t = targetBytesFromText(window.fieldText(ResizeWindow::Field::TargetSize));
        if (!t) {
            window.showMessage(text::kBadTarget);
            return std::nullopt;
        }
        in.target = *t;
    }
    return in;
}

bool save(ResizeWindow &window, const QString &path, const QByteArray &bytes)
{
    const SaveResult saved = writeFileReplacing(path, bytes);
    if (!saved.ok)
        window.showMessage(text::kSaveFailed.arg(QDir::toNativeSeparators(path), saved.reason));
    return saved.ok;
}

// Starts the iteration's trial and, on the second core, the trial the next
// iteration will most likely ask for. The sizes already known settle the
// direction when one of them is on the far side of the target (the size
// never grows with the factor); otherwise it is read off the sizes on
// either side, log size taken as linear in the factor, or both candidates
// start. A wrong guess costs a spare encoding, never a different result.
void encodeAhead(EncodingCache &cache, int lo, int hi, std::int64_t target)
{
    const int mid = static_cast<int>(roundHalfEven((lo + hi) / 2.0));
    const int ifTooLarge = static_cast<int>(roundHalfEven((mid + hi) / 2.0));
    const int ifFits = static_cast<int>(roundHalfEven((lo + mid) / 2.0));
    cache.start(mid);
    const auto below = cache.nearestDone(mid, false);
    const auto above = cache.nearestDone(mid, true);
    if (above && above->second > target) {
        cache.start(ifTooLarge);
    } else if (below && below->second <= target) {
        cache.start(ifFits);
    } else if (below && above && below->second > 0 && above->second > 0) {
        const double t = static_cast<double>(mid - below->first) / (above->first - below->first);
        const double logSize = std::log(static_cast<double>(below->second)) * (1 - t)
                               + std::log(static_cast<double>(above->second)) * t;
        cache.start(std::exp(logSize) > static_cast<double>(target) ? ifTooLarge : ifFits);
    } else {
        cache.start(ifTooLarge);
        cache.start(ifFits);
    }
}

} // namespace

void saveWithFactor(ResizeWindow &window, const QImage &image, const QString &outputPath, int factor)
{
    const EncodeResult jpeg = encodeJpeg(image, factor);
    if (!jpeg.error.isEmpty()) {
        window.showMessage(text::kSaveFailed.arg(QDir::toNativeSeparators(outputPath), jpeg.error));
        return;
    }
    if (!save(window, outputPath, jpeg.bytes))
        return;
    window.setResultLabel(text::resultText(QFileInfo(outputPath).size()));
    window.setFactorLabel(QString());
}

void saveForTargetSize(ResizeWindow &window, const QImage &image, const FormState &state, std::int32_t target)
{
    EncodingCache cache(image);
    const SearchOutcome found = searchFactor(
        target,
        [&cache](int factor) -> std::optional<std::int64_t> {
            const EncodeResult &r = cache.at(factor);
            if (!r.error.isEmpty())
                return std::nullopt;
            return r.bytes.size();
        },
        [&cache, target](int lo, int hi) { encodeAhead(cache, lo, hi, target); });
    if (found.encodeFailed) {
        window.showMessage(text::kSaveFailed.arg(QDir::toNativeSeparators(state.outputPath), cache.at(kBestFactor).error));
        return;
    }
    // Trials are measured in memory: only the chosen encoding replaces the
    // user's file, so a run that fails part-way leaves the old file as it was.
    // The work files keep the encodings at the bounds the last iteration began with.
    if (!save(window, state.appFolder + QStringLiteral("/work_min.jpg"), cache.at(found.lastLo).bytes)
        || !save(window, state.appFolder + QStringLiteral("/work_max.jpg"), cache.at(found.lastHi).bytes)
        || !save(window, state.outputPath, cache.at(found.finalFactor).bytes))
        return;
    const qint64 written = QFileInfo(state.outputPath).size();
    window.setResultLabel(text::resultText(written));
    window.setFactorLabel(text::factorText(found.finalFactor));
    if (written > target)
        window.showMessage(text::kUnreachable.arg(target).arg(written));
}

void runResizeCommand(ResizeWindow &window, const ImageHolder &viewer, ImageHolder &work, FormState &state)
{
    const BusyPointer busy(window);
    if (!work.hasImage()) {
        window.showMessage(text::kNoImage);
        return;
    }
    const std::optional<Inputs> in = readInputs(window);
    if (!in)
        return;
    window.enablePreviewButton();
    state.outputPath = window.fieldText(ResizeWindow::Field::Folder) + QLatin1Char('/')
                       + window.fieldText(ResizeWindow::Field::OutputName);
    // Any existing entry of that name counts, hidden files included.
    const QFileInfo existing(state.outputPath);
    if ((existing.exists() || existing.isSymLink()) && !window.askYesNo(text::kOverwrite))
        return;
    work.assignFrom(viewer);
    if (work.resize(in->width, in->height) != ResizeOutcome::Done) {
        window.showMessage(text::kTooLarge.arg(in->width).arg(in->height));
        return;
    }
    if (in->factorMode)
        saveWithFactor(window, work.image(), state.outputPath, in->factor);
    else
        saveForTargetSize(window, work.image(), state, in->target);
}

} // namespace tovalin
