#pragma once
#include <QString>

namespace tovalin {

// The executable's folder when it can be written, else the per-user
// application data folder (created when needed); never ends in "/" except "/".
QString chooseAppFolder();

} // namespace tovalin
