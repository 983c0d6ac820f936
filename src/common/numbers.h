#pragma once
#include <QString>
#include <cstdint>
#include <optional>

namespace tovalin {

// Integer part of (bytes / 1024 + 1) in double precision; not a ceiling:
// 2048 bytes give 3, 1000 bytes give 1.
std::int64_t kilobyteFigure(std::int64_t bytes);

// Integer part of size * (percent / 100), the division first and the product
// in double precision, the size as single precision: 100 px at 29 % give 28.
int scaledDimension(float size, int percent);

// Round to the nearest integer, halves to even (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
double roundHalfEven(double value);

// A field's text read as a number: the user's locale decimal separator first,
// then the plain "." form; blanks around it are allowed, grouping is not.
std::optional<double> readNumber(const QString &text);

// A whole number from `least` to `most`, blanks around it allowed.
std::optional<int> wholeNumberIn(const QString &text, int least, int most);

// Plain decimal digits, no blanks or separators.
QString decimalText(std::int64_t value);

} // namespace tovalin
