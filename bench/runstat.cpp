// Runs a command with its standard input from a file (default /dev/null) and its standard output
// to /dev/null, and prints its wall time and processor time (user + system) in seconds, its peak
// resident memory in KiB and its exit code:
//
//     runstat [-i INPUT] COMMAND [ARGS...]   ->   "<wall s> <cpu s> <peak KiB> <exit code>"
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
    const char* input = "/dev/null";
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-i") == 0) {
        input = argv[2];
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: runstat [-i INPUT] COMMAND [ARGS...]\n");
        return 2;
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        const int in = open(input, O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(127);
        close(in);
        close(out);
        execvp(argv[first], argv + first);
        std::perror(argv[first]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds = static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.3f %.3f %ld %d\n", seconds, cpu, usage.ru_maxrss, code);
    return 0;
}
