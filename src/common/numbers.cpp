#include "common/numbers.h"

#include <QLocale>
#include <cmath>

namespace tovalin {

std::int64_t kilobyteFigure(std::int64_t bytes)
{
    return static_cast<std::int64_t>(static_cast<double>(bytes) / 1024.0 + 1.0);
}

int scaledDimension(float size, int percent)
{
    const double ratio = static_cast<double>(percent) / 100.0;
    return static_cast<int>(static_cast<double>(size) * ratio);
}

double roundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

std::optional<double> readNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    for (QLocale locale : {QLocale(), QLocale::c()}) {
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double value = locale.toDouble(trimmed, &ok);
        if (ok && std::isfinite(value))
            return value;
    }
    return std::nullopt;
}

QString decimalText(std::int64_t value)
{
    return QString::number(value);
}

std::optional<int> wholeNumberIn(const QString &text, int least, int most)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok && v >= least && v <= most ? std::optional<int>(v) : std::nullopt;
}

} // namespace tovalin
