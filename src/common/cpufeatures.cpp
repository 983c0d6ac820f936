#include "common/cpufeatures.h"

#include <cstdlib>
#include <cstring>

namespace tovalin {

bool cpuHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

bool useAvx2()
{
    static const bool use = [] {
        const char *forced = std::getenv("TOVALIN_FORCE_PORTABLE");
        return cpuHasAvx2() && !(forced && *forced && std::strcmp(forced, "0") != 0);
    }();
    return use;
}

} // namespace tovalin
