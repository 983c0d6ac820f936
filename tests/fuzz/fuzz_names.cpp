// The output name and the source information line, for any dropped path.
#include "intake/intake.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString name = tovalin::derivedOutputName(path);
    // Always a name ending in "jpg"; the dropped name's length is kept when
    // it has three characters or more after the separator.
    if (!name.endsWith(QLatin1String("jpg")))
        std::abort();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0 && path.size() - slash >= 3 && name.size() != path.size() - slash)
        std::abort();
    if (!tovalin::sourceInfoLine(path).startsWith(path))
        std::abort();
    return 0;
}
