#include "common/memorypolicy.h"

#include <malloc.h>

namespace tovalin {

void keepFreedMemoryForReuse()
{
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_ARENA_MAX, 1); // threads reuse the same freed blocks too
}

} // namespace tovalin
