#pragma once

namespace tovalin {

// tovalin-cli [options] FILE|FOLDER...: see --help and tovalin-cli(1).
// Exit status 0 when no file failed (skipped ones included), 1 when some
// failed, 2 for a usage error, 128 + the signal when interrupted.
int runCli(int argc, char **argv);

} // namespace tovalin
