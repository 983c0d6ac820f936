#include "imaging/decode/fastmemory.h"

#include <cstdint>
#include <sys/mman.h>

namespace tovalin {

void preferLargePages(void *begin, std::size_t bytes)
{
    constexpr std::uintptr_t kPage = 4096;
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + kPage - 1) & ~(kPage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(kPage - 1);
    if (last > first + (2u << 20))
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

void populateForWriting(void *begin, std::size_t bytes)
{
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    constexpr std::uintptr_t kPage = 4096;
    const auto first = reinterpret_cast<std::uintptr_t>(begin) & ~(kPage - 1);
    const auto last = reinterpret_cast<std::uintptr_t>(begin) + bytes;
    madvise(reinterpret_cast<void *>(first), last - first, MADV_POPULATE_WRITE);
}

} // namespace tovalin
