#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

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

// Bicubic resampling of a picture whose rows come in order, a few at a time,
// as a decoder gives them: output rows [begin, end) of dst, the same bytes
// as resampleBicubic. The source picture is never held whole.
class RowResampler {
public:
    RowResampler(int srcWidth, int srcHeight, const RgbView &dst, int begin, int end,
                 ResampleKernel kernel = ResampleKernel::Auto);
    ~RowResampler();
    RowResampler(const RowResampler &) = delete;
    RowResampler &operator=(const RowResampler &) = delete;

    // False for a bad size, or when the tables would not fit in memory.
    bool ok() const { return m != nullptr; }
    // The source rows the output rows need: [firstRow(), endRow()).
    int firstRow() const;
    int endRow() const;
    // The next `count` source rows, `stride` bytes apart, from firstRow()
    // on; they need stay valid only during the call. Rows past endRow() are
    // passed over.
    void push(const std::uint8_t *rows, int count, std::ptrdiff_t stride);

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace tovalin
