#include "resize/jobfields.h"

#include "common/memorypolicy.h"
#include "common/numbers.h"
#include "imaging/jpeg/jpeg.h"

#include <cmath>
#include <limits>
#include <optional>

namespace tovalin {

namespace {

bool hasFullWidthDigits(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
            return true;
    return false;
}

std::optional<int> readSide(const QString &text)
{
    const std::optional<double> v = readNumber(text);
    if (!v || !(*v >= 1 && *v <= kMaxJpegSide) || *v != std::floor(*v))
        return std::nullopt;
    return static_cast<int>(*v);
}

} // namespace

std::optional<int> factorFromText(const QString &text)
{
    const std::optional<double> v = readNumber(text);
    if (!v)
        return std::nullopt;
    const double q = roundHalfEven(*v);
    if (q < kBestFactor || q > kStrongestFactor)
        return std::nullopt;
    return static_cast<int>(q);
}

namespace {

JobFields failed(FieldProblem problem, const QString &text)
{
    JobFields f;
    f.problem = hasFullWidthDigits(text) ? FieldProblem::FullWidthDigits : problem;
    f.where = problem;
    return f;
}

} // namespace

JobFields readJobFields(const FieldTexts &texts)
{
    JobFields f;
    const std::optional<int> w = readSide(texts.width);
    if (!w)
        return failed(FieldProblem::BadWidth, texts.width);
    const std::optional<int> h = readSide(texts.height);
    if (!h)
        return failed(FieldProblem::BadHeight, texts.height);
    if (!pixelsWithinBudget(*w, *h))
        return failed(FieldProblem::TooLarge, {});
    f.settings.width = *w;
    f.settings.height = *h;
    f.settings.mode = texts.mode;
    if (texts.mode == JobMode::Factor) {
        const std::optional<int> q = factorFromText(texts.factor);
        if (!q)
            return failed(FieldProblem::BadFactor, texts.factor);
        f.settings.factor = *q;
        return f;
    }
    const TargetReading target = targetFromText(texts.targetKb);
    if (target.problem != FieldProblem::None)
        return failed(target.problem, target.problem == FieldProblem::BadTarget ? texts.targetKb : QString());
    f.settings.targetBytes = target.bytes;
    return f;
}

TargetReading targetFromText(const QString &text)
{
    const std::optional<double> kb = readNumber(text);
    if (!kb)
        return {0, FieldProblem::BadTarget};
    const double bytes = roundHalfEven(*kb * 1024.0);
    if (bytes > std::numeric_limits<std::int32_t>::max())
        return {0, FieldProblem::TargetTooLarge};
    if (!(bytes >= 1.0))
        return {0, FieldProblem::BadTarget};
    return {static_cast<std::int32_t>(bytes), FieldProblem::None};
}

} // namespace tovalin
