// The number readers behind every numeric field: whatever is typed, a run's
// fields are either refused or within their ranges.
#include "imaging/jpeg/jpeg.h"
#include "resize/jobfields.h"

#include <QLocale>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool once = [] {
        QLocale::setDefault(QLocale(QLocale::German)); // a comma for the decimal separator
        return true;
    }();
    (void)once;
    if (size < 1)
        return 0;
    const QStringList texts = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1).split(QLatin1Char('\n'));
    const auto field = [&texts](int i) { return i < texts.size() ? texts[i] : QString(); };
    const tovalin::JobMode mode = data[0] & 1 ? tovalin::JobMode::Factor : tovalin::JobMode::TargetSize;
    const tovalin::JobFields f = tovalin::readJobFields({field(0), field(1), mode, field(2), field(3)});
    if (f.problem != tovalin::FieldProblem::None)
        return 0;
    if (f.settings.width < 1 || f.settings.width > tovalin::kMaxJpegSide || f.settings.height < 1 || f.settings.height > tovalin::kMaxJpegSide)
        std::abort();
    if (mode == tovalin::JobMode::Factor ? (f.settings.factor < 2 || f.settings.factor > 255) : f.settings.targetBytes < 1)
        std::abort();
    return 0;
}
