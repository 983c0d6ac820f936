#pragma once
#include <QSize>
#include <QString>
#include <optional>

namespace tovalin {

// How a batch sizes each picture.
struct SizeRule {
    enum Kind {
        Full,     // the picture's own size
        Exact,    // width x height, as the window's fields
        Scale,    // a percentage, by the window's rule
        LongEdge, // the longer side, aspect ratio kept
        Fit,      // within width x height, aspect ratio kept
    };
    Kind kind = Full;
    int width = 0;  // Exact, Fit
    int height = 0;
    int percent = 100; // Scale
    int edge = 0;      // LongEdge
    bool noEnlarge = false; // never larger than the picture
};

// The output size for a picture of `source` size; at least 1 x 1.
QSize targetSize(const SizeRule &rule, QSize source);

// A batch's limits, the same from the command line and the window.
constexpr int kMaxBatchPercent = 10000;
// A percentage of 1 to kMaxBatchPercent, or a long edge of 1 to the
// largest JPEG side, as typed (surrounding blanks allowed).
std::optional<int> percentFromText(const QString &text);
std::optional<int> edgeFromText(const QString &text);

} // namespace tovalin
