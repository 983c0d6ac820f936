#pragma once
#include "common/helpers.h"

#include <cstddef>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace tovalin::detail {

// A progressive file's scans are read into zero-filled coefficient arrays
// (about 3 bytes per pixel) before any row comes out, all on one core; the
// first touch of that fresh memory is much of the time on a virtual machine.
// Once libjpeg has made the arrays, the second core maps them in, then the
// picture's own rows, while the scans are read. Only the pages are mapped:
// the contents stay as libjpeg and the decoder write them.
class MemoryAhead {
public:
    MemoryAhead(void *picture, std::size_t bytes) : m_picture(picture), m_pictureBytes(bytes) {}
    ~MemoryAhead() { join(); }
    MemoryAhead(const MemoryAhead &) = delete;
    MemoryAhead &operator=(const MemoryAhead &) = delete;

    // Hooks libjpeg's memory manager of `cinfo`, just made.
    void attach(jpeg_decompress_struct &cinfo);

    // Before the arrays are freed.
    void join()
    {
        if (m_helper)
            m_helper->wait();
    }

private:
    struct Array {
        jvirt_barray_ptr array;
        std::size_t rowBytes;
        JDIMENSION rows;
    };
    struct Range {
        void *begin;
        std::size_t bytes;
    };
    // One array per component, each made of a few contiguous chunks.
    static constexpr int kMaxArrays = MAX_COMPONENTS;
    static constexpr int kMaxRanges = 64;

    static MemoryAhead &of(j_common_ptr cinfo) { return *static_cast<MemoryAhead *>(cinfo->client_data); }

    static jvirt_barray_ptr request(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION blocksPerRow,
                                    JDIMENSION rows, JDIMENSION maxAccess);
    static void realize(j_common_ptr cinfo);
    void add(void *begin, std::size_t bytes);

    void *m_picture;
    std::size_t m_pictureBytes;
    jvirt_barray_ptr (*m_request)(j_common_ptr, int, boolean, JDIMENSION, JDIMENSION, JDIMENSION) = nullptr;
    void (*m_realize)(j_common_ptr) = nullptr;
    Array m_array[kMaxArrays] = {};
    int m_arrays = 0;
    Range m_range[kMaxRanges] = {};
    int m_ranges = 0;
    std::unique_ptr<Helper> m_helper;
};

} // namespace tovalin::detail
