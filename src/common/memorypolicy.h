#pragma once

namespace tovalin {

// Keep memory freed by one step for the next instead of handing it back to
// the system: on virtual machines a fresh page can cost as much as the work
// done in it, and every resize and encode would otherwise start on fresh
// pages. Call once at start-up.
void keepFreedMemoryForReuse();

} // namespace tovalin
