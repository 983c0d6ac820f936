#pragma once

class QApplication;

namespace tovalin {

// What every Tovalin process sets up before its window: its name (for the
// per-user folder), Qt's own texts in Japanese whatever the system's
// language, and the picture readers' memory limits.
void setUpApplication(QApplication &app);

} // namespace tovalin
