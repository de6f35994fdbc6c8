// Runs one command as a child process and prints what it cost:
//   wall_ms=<elapsed> user_ms=<its CPU time in user mode> sys_ms=<in the kernel>
//   maxrss_kb=<peak resident set of the child> exit=<code>
// The CPU times and the peak are the child's own (wait4), threads included.
// Usage: qm-measure COMMAND [ARGS...]
// The child's own output goes where ours goes; the figures go to stderr last.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qm-measure COMMAND [ARGS...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return 2;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto msOf = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    std::fprintf(stderr, "wall_ms=%.2f user_ms=%.2f sys_ms=%.2f maxrss_kb=%ld exit=%d\n", ms, msOf(usage.ru_utime),
                 msOf(usage.ru_stime), usage.ru_maxrss, code);
    return 0;
}
