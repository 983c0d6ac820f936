#include "common/memorypolicy.h"

#include <QFile>

#include <algorithm>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tovalin {

namespace {

// A number file of the cgroup file system; -1 for "max", absent or unreadable.
std::int64_t numberIn(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const std::int64_t v = f.readAll().trimmed().toLongLong(&ok);
    return ok && v >= 0 ? v : -1;
}

// The limit less the use, in the first of `folders` that holds a limit.
std::int64_t roomIn(const QStringList &folders, const char *limitName, const char *useName)
{
    for (const QString &folder : folders) {
        const std::int64_t limit = numberIn(folder + QLatin1Char('/') + QLatin1String(limitName));
        if (limit < 0)
            continue;
        const std::int64_t use = std::max<std::int64_t>(0, numberIn(folder + QLatin1Char('/') + QLatin1String(useName)));
        return std::max<std::int64_t>(0, limit - use);
    }
    return -1;
}

std::int64_t addressSpaceRoom()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    QFile statm(QStringLiteral("/proc/self/statm"));
    std::int64_t mapped = 0;
    if (statm.open(QIODevice::ReadOnly))
        mapped = statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGE_SIZE);
    return std::max<std::int64_t>(0, std::int64_t(limit.rlim_cur) - mapped);
}

} // namespace

std::int64_t cgroupRoom(const QByteArray &procSelfCgroup, const QString &cgroupRoot)
{
    std::int64_t room = -1;
    const auto least = [&room](std::int64_t r) {
        if (r >= 0)
            room = room < 0 ? r : std::min(room, r);
    };
    for (const QByteArray &line : procSelfCgroup.split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(parts.mid(2).join(':'));
        if (parts[0] == "0" && parts[1].isEmpty()) // v2: the unified tree
            least(roomIn({cgroupRoot + path, cgroupRoot}, "memory.max", "memory.current"));
        else if (parts[1].split(',').contains("memory")) // v1: the memory controller's tree
            least(roomIn({cgroupRoot + QStringLiteral("/memory") + path, cgroupRoot + QStringLiteral("/memory")},
                         "memory.limit_in_bytes", "memory.usage_in_bytes"));
    }
    return room;
}

std::int64_t machineMemory()
{
    static const std::int64_t memory = [] {
        std::int64_t m = std::int64_t(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
        QFile self(QStringLiteral("/proc/self/cgroup"));
        const QByteArray cgroups = self.open(QIODevice::ReadOnly) ? self.readAll() : QByteArray();
        for (const std::int64_t room : {cgroupRoom(cgroups, QStringLiteral("/sys/fs/cgroup")), addressSpaceRoom()})
            if (room >= 0)
                m = std::min(m, room);
        return std::max<std::int64_t>(m, std::int64_t(64) << 20);
    }();
    return memory;
}

std::int64_t maxPixels(int heldBytesPerPixel)
{
#ifdef TOVALIN_MAX_PIXELS
    constexpr std::int64_t kHardCap = TOVALIN_MAX_PIXELS;
#else
    constexpr std::int64_t kHardCap = std::int64_t(16384) * 16384;
#endif
    constexpr std::int64_t kOtherBuffers = 3 * 3;
    return std::min(kHardCap, machineMemory() / 4 / (std::max(heldBytesPerPixel, 3) + kOtherBuffers));
}

bool pixelsWithinBudget(std::int64_t width, std::int64_t height, int heldBytesPerPixel)
{
    return width > 0 && height > 0 && width <= maxPixels(heldBytesPerPixel) / height;
}

std::int64_t maxFileBytes()
{
    return machineMemory() / 4;
}

std::int64_t jobPeakBytes(std::int64_t sourcePixels, std::int64_t outputPixels, std::int64_t fileBytes)
{
    constexpr std::int64_t kFixed = 16 << 20;
    if (sourcePixels <= 0)
        return fileBytes + (64 << 20);
    return sourcePixels * 6 + outputPixels * 9 + fileBytes + kFixed;
}

void returnFreedMemory()
{
    malloc_trim(0);
}

} // namespace tovalin
