// No thread can be made, for tests: loaded with LD_PRELOAD, pthread_create
// fails with EAGAIN, as where a process has reached its limit.
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg)
{
    (void)thread;
    (void)attr;
    (void)start;
    (void)arg;
    return EAGAIN;
}
