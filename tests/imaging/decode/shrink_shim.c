// A file that shrinks while it is read, for tests, without a race: loaded
// with LD_PRELOAD, it truncates $TOVALIN_SHRINK_FILE to $TOVALIN_SHRINK_TO
// bytes right after the program maps that file, or right before its first
// read of it, whichever comes first.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "../../shim_fdpath.h"

static char shrunk[4096]; // once for each file named

static void shrinkIfWatched(int fd)
{
    const char *file = getenv("TOVALIN_SHRINK_FILE");
    const char *to = getenv("TOVALIN_SHRINK_TO");
    char path[4096];
    if (!file || !to || fd < 0 || strcmp(shrunk, file) == 0 || !pathOfFd(fd, path, sizeof path))
        return;
    if (strcmp(path, file) == 0 && truncate(file, atol(to)) == 0)
        snprintf(shrunk, sizeof shrunk, "%s", file);
}

ssize_t read(int fd, void *buf, size_t n)
{
    static ssize_t (*real_read)(int, void *, size_t);
    if (!real_read)
        real_read = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    shrinkIfWatched(fd);
    return real_read(fd, buf, n);
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    static void *(*real_mmap)(void *, size_t, int, int, int, off_t);
    if (!real_mmap)
        real_mmap = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    void *mapped = real_mmap(addr, length, prot, flags, fd, offset);
    if (mapped != MAP_FAILED)
        shrinkIfWatched(fd);
    return mapped;
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    return mmap(addr, length, prot, flags, fd, offset);
}
