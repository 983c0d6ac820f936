#pragma once
#include <cstdint>

namespace tovalin {

// The largest picture, in pixels, that we agree to hold when its decoder
// holds `heldBytesPerPixel` bytes a pixel at its peak (3 for a decoder that
// writes the RGB picture directly). Besides the decoded picture a run holds
// up to three buffers of 3 bytes a pixel (resized picture, the encoder's
// coefficients, a copy on its way to the viewer); keep all of that within a
// quarter of the machine's memory, and never above 256 megapixels (a
// 16384 x 16384 panorama), whatever the machine.
std::int64_t maxPixels(int heldBytesPerPixel = 3);

// Whether width x height pixels are within maxPixels(heldBytesPerPixel);
// false for any side of 0 or less.
bool pixelsWithinBudget(std::int64_t width, std::int64_t height, int heldBytesPerPixel = 3);

// Hand memory freed by a finished run back to the system, so an idle
// window does not keep the peak of its last run.
void returnFreedMemory();

} // namespace tovalin
