/* Counts the threads a process starts, for tests only: preloaded, it stands
 * between the program and the C library's pthread_create, and when the process
 * ends it appends "<pid> <threads started>" to the file named by
 * $THREAD_COUNTER_LOG. Children inherit it, so a whole process tree is counted. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int (*CreateFunction)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

static atomic_int started;

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
    static CreateFunction create;
    if (create == NULL) {
        void* found = dlsym(RTLD_NEXT, "pthread_create");
        memcpy(&create, &found, sizeof create); /* an object pointer to a function pointer, as POSIX allows */
    }
    int result = create(thread, attributes, start, argument);
    if (result == 0) atomic_fetch_add(&started, 1);
    return result;
}

__attribute__((destructor)) static void report(void) {
    const char* path = getenv("THREAD_COUNTER_LOG");
    if (path == NULL) return;
    FILE* log = fopen(path, "a");
    if (log == NULL) return;
    fprintf(log, "%ld %d\n", (long)getpid(), atomic_load(&started));
    fclose(log);
}
