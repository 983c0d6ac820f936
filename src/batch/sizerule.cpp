#include "batch/sizerule.h"

#include "common/numbers.h"
#include "imaging/jpeg/jpeg.h"

#include <algorithm>
#include <cmath>

namespace tovalin {

namespace {

// Both sides by one ratio, the shorter rounded to the nearest pixel.
QSize scaledBy(QSize source, double ratio)
{
    const auto side = [ratio](int s) { return std::max(1, int(std::lround(s * ratio))); };
    return QSize(side(source.width()), side(source.height()));
}

} // namespace

QSize targetSize(const SizeRule &rule, QSize source)
{
    QSize size = source;
    double ratio = 1.0;
    switch (rule.kind) {
    case SizeRule::Full:
        return source;
    case SizeRule::Exact:
        size = QSize(rule.width, rule.height);
        if (rule.noEnlarge && (size.width() > source.width() || size.height() > source.height()))
            return source;
        return size;
    case SizeRule::Scale: {
        const int percent = rule.noEnlarge ? std::min(rule.percent, 100) : rule.percent;
        return QSize(std::max(1, int(scaledDimension(float(source.width()), percent))),
                     std::max(1, int(scaledDimension(float(source.height()), percent))));
    }
    case SizeRule::LongEdge: {
        const int longer = std::max(source.width(), source.height());
        ratio = double(rule.edge) / longer;
        if (rule.noEnlarge && ratio >= 1.0)
            return source;
        // The longer side is exactly the edge asked for.
        size = scaledBy(source, ratio);
        (source.width() >= source.height() ? size.rwidth() : size.rheight()) = rule.edge;
        return size;
    }
    case SizeRule::Fit:
        ratio = std::min(double(rule.width) / source.width(), double(rule.height) / source.height());
        if (rule.noEnlarge && ratio >= 1.0)
            return source;
        size = scaledBy(source, ratio);
        return size.boundedTo(QSize(rule.width, rule.height));
    }
    return size;
}

std::optional<int> percentFromText(const QString &text)
{
    return wholeNumberIn(text, 1, kMaxBatchPercent);
}

std::optional<int> edgeFromText(const QString &text)
{
    return wholeNumberIn(text, 1, kMaxJpegSide);
}

} // namespace tovalin
