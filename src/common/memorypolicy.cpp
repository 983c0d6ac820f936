#include "common/memorypolicy.h"

#include <algorithm>
#include <malloc.h>
#include <unistd.h>

namespace tovalin {

std::int64_t maxPixels(int heldBytesPerPixel)
{
#ifdef TOVALIN_MAX_PIXELS
    constexpr std::int64_t kHardCap = TOVALIN_MAX_PIXELS;
#else
    constexpr std::int64_t kHardCap = std::int64_t(16384) * 16384;
#endif
    constexpr std::int64_t kOtherBuffers = 3 * 3;
    const std::int64_t physical = std::int64_t(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
    return std::min(kHardCap, physical / 4 / (std::max(heldBytesPerPixel, 3) + kOtherBuffers));
}

bool pixelsWithinBudget(std::int64_t width, std::int64_t height, int heldBytesPerPixel)
{
    return width > 0 && height > 0 && width <= maxPixels(heldBytesPerPixel) / height;
}

void returnFreedMemory()
{
    malloc_trim(0);
}

} // namespace tovalin
