// For the LD_PRELOAD shims of the tests: the path an open file descriptor
// names.
#pragma once
#include <stdio.h>
#include <string.h>
#include <unistd.h>

// Fills `path` (of `size` bytes) and returns 1, or returns 0.
static inline int pathOfFd(int fd, char *path, size_t size)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t len = readlink(link, path, size - 1);
    if (len <= 0)
        return 0;
    path[len] = '\0';
    return 1;
}

// Whether the descriptor names a file below `dir`.
static inline int fdBelow(int fd, const char *dir)
{
    char path[4096];
    return dir && *dir && pathOfFd(fd, path, sizeof path) && strncmp(path, dir, strlen(dir)) == 0;
}
