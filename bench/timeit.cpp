// timeit RESULT_FILE PROGRAM [ARGS...]: runs the program and appends one line to
// RESULT_FILE: wall seconds, peak resident set in KiB, exit status, CPU seconds (user and
// system; on a busy machine they say more about the work than the wall clock).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: timeit RESULT_FILE PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    timespec t0{}, t1{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    const double secs = double(t1.tv_sec - t0.tv_sec) + double(t1.tv_nsec - t0.tv_nsec) * 1e-9;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::FILE* out = std::fopen(argv[1], "a");
    if (!out) {
        std::perror(argv[1]);
        return 2;
    }
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    std::fprintf(out, "%.6f %ld %d %.6f\n", secs, usage.ru_maxrss, code, cpu);
    std::fclose(out);
    return code;
}
