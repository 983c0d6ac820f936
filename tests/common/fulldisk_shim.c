// A full disk, for tests: loaded with LD_PRELOAD, it makes writes into files
// below $TOVALIN_FULL_DIR fail with ENOSPC once a file holds
// $TOVALIN_FULL_AFTER bytes, or once all files written there together hold
// $TOVALIN_FULL_BUDGET bytes (the write that crosses it is cut short).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "../shim_fdpath.h"

ssize_t write(int fd, const void *buf, size_t n)
{
    static ssize_t (*real_write)(int, const void *, size_t);
    if (!real_write)
        real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    if (fdBelow(fd, getenv("TOVALIN_FULL_DIR"))) {
        static off_t used; // by every file: space is not given back
        const char *budget = getenv("TOVALIN_FULL_BUDGET");
        const off_t at = budget ? used : lseek(fd, 0, SEEK_CUR);
        const char *after = getenv("TOVALIN_FULL_AFTER");
        const off_t room = budget ? atol(budget) : after ? atol(after) : 0;
        if (at >= room) {
            errno = ENOSPC;
            return -1;
        }
        if (at + (off_t)n > room)
            n = (size_t)(room - at);
        const ssize_t done = real_write(fd, buf, n);
        if (budget && done > 0)
            used += done;
        return done;
    }
    return real_write(fd, buf, n);
}
