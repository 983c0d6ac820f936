// A signal in the middle of a write, for tests, without a race: loaded with
// LD_PRELOAD, it raises $TOVALIN_SIGNAL (a number) in the process the first
// time a file below $TOVALIN_SIGNAL_DIR is written, before that write is
// done.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "../shim_fdpath.h"

ssize_t write(int fd, const void *buf, size_t n)
{
    static ssize_t (*real_write)(int, const void *, size_t);
    static int raised;
    if (!real_write)
        real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const char *sig = getenv("TOVALIN_SIGNAL");
    if (!raised && sig && fdBelow(fd, getenv("TOVALIN_SIGNAL_DIR"))) {
        raised = 1;
        raise(atoi(sig));
    }
    return real_write(fd, buf, n);
}
