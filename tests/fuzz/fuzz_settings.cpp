// The settings reader: any file content. What it reads back from a line it
// wrote itself is what was written.
#include "app/settingsfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<tovalin::SavedSettings> s = tovalin::parseSettings(bytes);
    if (!s)
        return 0;
    for (const QString &field : {s->folder, s->targetSize})
        if (field.contains(QLatin1Char('"')) || field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('\r'))
            || field.contains(QLatin1Char('\n')) || field != field.trimmed() || field.contains(QChar::ReplacementCharacter))
            return 0;
    const std::optional<tovalin::SavedSettings> again = tovalin::parseSettings(tovalin::formatSettings(*s));
    if (!again || again->folder != s->folder || again->targetSize != s->targetSize)
        std::abort();
    return 0;
}
