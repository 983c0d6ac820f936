#pragma once

class QApplication;

namespace tovalin {

// What every Tovalin process sets up before its window: its name (for the
// per-user folder), Qt's own texts in Japanese whatever the system's
// language, and the picture readers' memory limits.
void setUpApplication(QApplication &app);

// The window program: "tovalin [FILE]". The command line is read before
// anything of the GUI starts, so --help and --version print and end with
// or without a display; FILE is taken as if it had been dropped.
int runTovalin(int argc, char **argv);

} // namespace tovalin
