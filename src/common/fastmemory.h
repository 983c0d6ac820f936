#pragma once
#include <cstddef>

namespace tovalin {

// Speed tricks for large pixel buffers, each measured where it is used.
//
// Asks the kernel to back a large, freshly allocated buffer with 2 MB pages.
// On a virtual machine a first touch of each 4 KB page costs about as much
// as decoding into it; with large pages a 12-megapixel JPEG decodes about a
// third faster (see the benchmark's decode figures). Harmless where the
// kernel does not offer large pages.
void preferLargePages(void *begin, std::size_t bytes);

} // namespace tovalin
