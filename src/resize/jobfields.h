#pragma once
#include <QString>
#include <cstdint>
#include <optional>

#include "imaging/jpeg/jpeg.h"

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

// What a run is asked to make: the output size, and the factor or the
// target. Read from the window's fields, or set by a batch or the command
// line without any field texts.
struct JobSettings {
    int width = 0;
    int height = 0;
    JobMode mode = JobMode::TargetSize;
    int factor = 0;               // factor mode: 2..255
    std::int32_t targetBytes = 0; // size mode: kilobytes x 1024, halves to even
    Encoder encoder = Encoder::Tovalin;
};

struct JobFields {
    FieldProblem problem = FieldProblem::None;
    FieldProblem where = FieldProblem::None; // for FullWidthDigits: the field
    JobSettings settings;
};

// Reads every numeric field of a run, in the order the user sees them;
// the first bad one is named.
JobFields readJobFields(const FieldTexts &texts);

// A factor text read as the factor field is: a number, halves to even,
// 2..255; empty otherwise.
std::optional<int> factorFromText(const QString &text);

// A kilobyte text read as the target field is: the number times 1024,
// halves to even ("40" -> 40960, "0.5" -> 512), or why it is refused
// (BadTarget: not a number, or under 1 byte; TargetTooLarge: over 2 GB).
struct TargetReading {
    std::int32_t bytes = 0;
    FieldProblem problem = FieldProblem::None;
};
TargetReading targetFromText(const QString &text);

} // namespace tovalin
