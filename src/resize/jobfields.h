#pragma once
#include <QString>
#include <cstdint>
#include <optional>

namespace tovalin {

enum class JobMode { Factor, TargetSize };

// The texts of the fields a run reads, as typed.
struct FieldTexts {
    QString width;
    QString height;
    JobMode mode = JobMode::TargetSize;
    QString factor;
    QString targetKb;
};

// Which field stopped a run, and why.
enum class FieldProblem {
    None,
    BadWidth,        // not a whole number 1..65500
    BadHeight,
    TooLarge,        // the output size does not fit the memory budget
    BadFactor,       // not a number that rounds to 2..255
    BadTarget,       // not a number above 0
    TargetTooLarge,  // more than 2 GB
    FullWidthDigits, // typed with full-width digits (８００)
};

struct JobFields {
    FieldProblem problem = FieldProblem::None;
    FieldProblem where = FieldProblem::None; // for FullWidthDigits: the field
    int width = 0;
    int height = 0;
    JobMode mode = JobMode::TargetSize;
    int factor = 0;              // factor mode: halves rounded to even
    std::int32_t targetBytes = 0; // size mode: kilobytes x 1024, halves to even
};

// Reads every numeric field of a run, in the order the user sees them;
// the first bad one is named.
JobFields readJobFields(const FieldTexts &texts);

// A factor text read as the factor field is: a number, halves to even,
// 2..255; empty otherwise.
std::optional<int> factorFromText(const QString &text);

// The largest side a JPEG can have.
constexpr int kMaxSide = 65500;

} // namespace tovalin
