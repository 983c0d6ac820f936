// Saves that must keep an existing file, for tests: loaded with LD_PRELOAD,
// it makes renameat2 lack RENAME_NOREPLACE ($TOVALIN_NO_RENAMEAT2) and
// hard links fail ($TOVALIN_NO_LINK), as on FAT, and creates the file
// $TOVALIN_APPEAR while a temporary file is written
// ($TOVALIN_APPEAR_AT=write) or just as the file is put in place (=place).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "../shim_fdpath.h"

static ssize_t realWrite(int fd, const void *buf, size_t n)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    return real(fd, buf, n);
}

static void appear(const char *when)
{
    const char *path = getenv("TOVALIN_APPEAR");
    const char *at = getenv("TOVALIN_APPEAR_AT");
    if (!path || !at || strcmp(at, when) != 0)
        return;
    const int fd = open(path, O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd >= 0) {
        realWrite(fd, "theirs", 6);
        close(fd);
    }
}

ssize_t write(int fd, const void *buf, size_t n)
{
    char path[4096];
    const size_t len = pathOfFd(fd, path, sizeof path) ? strlen(path) : 0;
    if (len > 4 && strcmp(path + len - 4, ".tmp") == 0)
        appear("write");
    return realWrite(fd, buf, n);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    static int (*real)(int, const char *, int, const char *, unsigned int);
    if (!real)
        real = (int (*)(int, const char *, int, const char *, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    if (getenv("TOVALIN_NO_RENAMEAT2")) {
        errno = EINVAL;
        return -1;
    }
    appear("place");
    return real(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "link");
    if (getenv("TOVALIN_NO_LINK")) {
        errno = EPERM;
        return -1;
    }
    appear("place");
    return real(from, to);
}

int rename(const char *from, const char *to)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    appear("place");
    return real(from, to);
}
