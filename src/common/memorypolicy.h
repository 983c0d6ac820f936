#pragma once
#include <cstdint>

namespace tovalin {

// The largest picture, in pixels, that we agree to hold. A decoded picture
// is held as 3 bytes a pixel, and a run may hold up to four buffers of that
// size at once (source, resized, and the encoder's coefficients); keep all of
// that within a quarter of the machine's memory, and never above 256
// megapixels (a 16384 x 16384 panorama), whatever the machine.
std::int64_t maxPixels();

// Whether width x height pixels are within maxPixels(); false for any side
// of 0 or less.
bool pixelsWithinBudget(std::int64_t width, std::int64_t height);

// Hand memory freed by a finished run back to the system, so an idle
// window does not keep the peak of its last run.
void returnFreedMemory();

} // namespace tovalin
