// Runs one command and writes its wall time, processor time (user + system)
// and peak resident memory as one JSON object into RESULT (the command keeps
// standard output and error). A small process of its own
// starts the command, since a child's peak counts the memory of the process
// it was forked from (a Python interpreter holding test data, say).
// Usage: measure_run RESULT PROGRAM [ARGS...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: measure_run RESULT PROGRAM [ARGS...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("measure_run: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::perror("measure_run: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("measure_run: wait4");
        return 2;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    std::FILE* result = std::fopen(argv[1], "w");
    if (result == nullptr) {
        std::perror("measure_run: result file");
        return 2;
    }
    std::fprintf(result, "{\"wall\": %.6f, \"cpu\": %.6f, \"peak_bytes\": %ld, \"status\": %d}\n", wall, cpu,
                 usage.ru_maxrss * 1024L, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    std::fclose(result);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
