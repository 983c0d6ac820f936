#pragma once
#include <cstdint>

namespace tovalin::detail {

// Text and drawings sit on white (255) or are drawn in black (0), and the
// decoder clips every sample to 0..255. In a block that touches either
// end without being all of it, each run of clipped samples (taken in
// zigzag order, as a line through the block) is replaced by a smooth bump
// past the end, rising and falling with the slopes beside the run: the
// decoder clips the bump back to the same picture, while the block needs
// smaller high frequencies, so it rings less and costs fewer bits.
//
// Fills `shifted` (natural order, less 128) and returns true when the
// block (row stride given) has such runs; leaves it alone otherwise.
bool deringBlock(const std::uint8_t *samples, int stride, std::int32_t *shifted);

} // namespace tovalin::detail
