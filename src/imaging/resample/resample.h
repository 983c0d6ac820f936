#pragma once
#include <cstddef>
#include <cstdint>

namespace tovalin {

// A view of 8-bit interleaved RGB pixels.
struct RgbView {
    std::uint8_t *data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0; // bytes from one row to the next
};

// Auto: as the processor switch (common/cpufeatures.h) says.
enum class ResampleKernel { Auto, Portable, Avx2 };

// Bicubic (cubic convolution, a = -0.5) resampling of src into dst, whose
// size is the requested one. Identical bytes to Pillow's
// Image.resize(size, Image.BICUBIC) on 8-bit RGB, whichever kernel runs.
// threads: how many threads may share a large image (1 or more).
// Returns false when the coefficient tables would not fit in memory.
bool resampleBicubic(const RgbView &src, const RgbView &dst,
                     ResampleKernel kernel = ResampleKernel::Auto, int threads = 0);

} // namespace tovalin
