#pragma once

namespace tovalin {

// Whether the vectorised kernels may use AVX2: the processor has it and
// TOVALIN_FORCE_PORTABLE is not set to something other than 0 (the portable
// kernels forced everywhere, as libjpeg-turbo's JSIMD_FORCENONE does). Read
// once; every kernel choice goes through it.
bool useAvx2();

// Whether the processor has AVX2, whatever the switch says: for tests that
// compare the kernels with each other.
bool cpuHasAvx2();

} // namespace tovalin
