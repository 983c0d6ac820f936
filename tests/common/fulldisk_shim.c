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

ssize_t write(int fd, const void *buf, size_t n)
{
    static ssize_t (*real_write)(int, const void *, size_t);
    if (!real_write)
        real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const char *dir = getenv("TOVALIN_FULL_DIR");
    if (dir && *dir) {
        char link[64], path[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t len = readlink(link, path, sizeof path - 1);
        if (len > 0) {
            path[len] = '\0';
            if (strncmp(path, dir, strlen(dir)) == 0) {
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
        }
    }
    return real_write(fd, buf, n);
}
