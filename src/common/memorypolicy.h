#pragma once
#include <QString>
#include <cstdint>

namespace tovalin {

// The memory this process may count on: the smallest of the machine's
// physical memory, its cgroup's limit less what the cgroup uses (a
// container's limit, v2 memory.max or v1 memory.limit_in_bytes), and its
// address-space limit (ulimit -v) less what it has mapped. Taken once, when
// first asked, so every decision of a run rests on one figure.
std::int64_t machineMemory();

// The room a cgroup leaves, read from a /proc/self/cgroup text and a
// cgroup file system mounted at `cgroupRoot`; -1 when there is no limit.
std::int64_t cgroupRoom(const QByteArray &procSelfCgroup, const QString &cgroupRoot);

// The largest picture, in pixels, that we agree to hold when its decoder
// holds `heldBytesPerPixel` bytes a pixel at its peak (3 for a decoder that
// writes the RGB picture directly). Besides the decoded picture a run holds
// up to three buffers of 3 bytes a pixel (resized picture, the encoder's
// coefficients, a copy on its way to the viewer); keep all of that within a
// quarter of machineMemory(), and never above 256 megapixels (a
// 16384 x 16384 panorama), whatever the machine.
std::int64_t maxPixels(int heldBytesPerPixel = 3);

// Whether width x height pixels are within maxPixels(heldBytesPerPixel);
// false for any side of 0 or less.
bool pixelsWithinBudget(std::int64_t width, std::int64_t height, int heldBytesPerPixel = 3);

// The largest picture file read whole: a quarter of machineMemory().
std::int64_t maxFileBytes();

// What one picture's job holds at its peak: the file, the decoder's
// buffers and the source at `sourcePixels`, and at `outputPixels` the
// resized picture and the encoder's coefficients. With the source's size
// unknown (0), the file and a fixed allowance.
std::int64_t jobPeakBytes(std::int64_t sourcePixels, std::int64_t outputPixels, std::int64_t fileBytes);

// What each parallel job keeps beside its picture (stacks, libraries'
// tables): a budget that cannot give every job this runs fewer at once.
constexpr std::int64_t kJobReserveBytes = std::int64_t(64) << 20;

// Hand memory freed by a finished run back to the system, so an idle
// window does not keep the peak of its last run.
void returnFreedMemory();

} // namespace tovalin
