#include "imaging/decode/memoryahead.h"

#include "imaging/decode/fastmemory.h"

#include <utility>

namespace tovalin::detail {

void MemoryAhead::attach(jpeg_decompress_struct &cinfo)
{
    cinfo.client_data = this;
    m_request = std::exchange(cinfo.mem->request_virt_barray, &MemoryAhead::request);
    m_realize = std::exchange(cinfo.mem->realize_virt_arrays, &MemoryAhead::realize);
}

jvirt_barray_ptr MemoryAhead::request(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION blocksPerRow,
                                JDIMENSION rows, JDIMENSION maxAccess)
{
    MemoryAhead &self = of(cinfo);
    const jvirt_barray_ptr array = self.m_request(cinfo, pool, preZero, blocksPerRow, rows, maxAccess);
    if (self.m_arrays < kMaxArrays)
        self.m_array[self.m_arrays++] = {array, std::size_t(blocksPerRow) * sizeof(JBLOCK), rows};
    return array;
}

void MemoryAhead::realize(j_common_ptr cinfo)
{
    MemoryAhead &self = of(cinfo);
    self.m_realize(cinfo);
    if (self.m_helper)
        return; // called again: the memory is already on its way
    // Without a memory limit every array is wholly in memory now; an
    // access of no rows hands out its row pointers and changes nothing.
    for (int a = 0; a < self.m_arrays; ++a) {
        const Array &arr = self.m_array[a];
        const JBLOCKARRAY rows = cinfo->mem->access_virt_barray(cinfo, arr.array, 0, 0, FALSE);
        for (JDIMENSION i = 0; i < arr.rows;) {
            JDIMENSION j = i + 1;
            while (j < arr.rows && reinterpret_cast<char *>(rows[j]) == reinterpret_cast<char *>(rows[j - 1]) + arr.rowBytes)
                ++j;
            self.add(rows[i], (j - i) * arr.rowBytes);
            i = j;
        }
    }
    self.add(self.m_picture, self.m_pictureBytes);
    // With no core to spare libjpeg touches the memory itself.
    self.m_helper = std::make_unique<Helper>(
        [&self] {
            for (int r = 0; r < self.m_ranges; ++r)
                populateForWriting(self.m_range[r].begin, self.m_range[r].bytes);
        },
        Helper::Optional);
}

void MemoryAhead::add(void *begin, std::size_t bytes)
{
    if (m_ranges < kMaxRanges)
        m_range[m_ranges++] = {begin, bytes};
}

} // namespace tovalin::detail
