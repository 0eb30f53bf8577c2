/* Runs one command and prints
   "<wall microseconds> <peak resident KiB> <exit status> <CPU microseconds>".
   The peak and the CPU time come from wait4's rusage, which covers the child and every
   descendant it waited for, so a whole process tree is measured: the peak is the largest
   resident set of any of them (ru_maxrss), the CPU time the user and system time of all
   of them together. The command's own output goes to /dev/null, so that a terminal never
   slows a run down. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: process_timer <program> [arguments...]\n");
        return 2;
    }
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) {
        perror("process_timer: /dev/null");
        return 2;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid < 0) {
        perror("process_timer: fork");
        return 2;
    }
    if (pid == 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) < 0) {
        perror("process_timer: wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    long long micros =
        (long long)(end.tv_sec - start.tv_sec) * 1000000LL + (end.tv_nsec - start.tv_nsec) / 1000;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    long long cpu = (long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                    usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    printf("%lld %ld %d %lld\n", micros, usage.ru_maxrss, code, cpu);
    return 0;
}
