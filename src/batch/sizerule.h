#pragma once
#include <QSize>

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

} // namespace tovalin
