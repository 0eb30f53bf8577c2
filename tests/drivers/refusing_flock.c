/* Preloaded into a run (LD_PRELOAD) to stand for a file system that has no
 * locks, as some network homes: every flock fails with the errno given in
 * MIVORA_TEST_FLOCK_ERRNO (ENOLCK when unset). */
#include <errno.h>
#include <stdlib.h>
#include <sys/file.h>

int flock(int fd, int operation) {
    (void)fd;
    (void)operation;
    const char* value = getenv("MIVORA_TEST_FLOCK_ERRNO");
    errno = value ? atoi(value) : ENOLCK;
    return -1;
}
