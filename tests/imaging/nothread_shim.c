// No thread can be made, for tests: loaded with LD_PRELOAD, pthread_create
// fails with EAGAIN, as where a process has reached its limit. With
// NOTHREAD_ALLOW_FIRST=N in the environment the first N threads are still
// made: QtTest starts its watchdog thread before any test runs.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>

static atomic_int allowed = -1;

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg)
{
    int expected = -1;
    const char *first = getenv("NOTHREAD_ALLOW_FIRST");
    atomic_compare_exchange_strong(&allowed, &expected, first ? atoi(first) : 0);
    if (atomic_fetch_sub(&allowed, 1) <= 0)
        return EAGAIN;
    int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *) =
        (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))dlsym(RTLD_NEXT, "pthread_create");
    return real(thread, attr, start, arg);
}
