// Process hygiene on Linux, each case in a child process of its own: descriptors
// 0-2 and SIGPIPE at start, and signals held back from the start of an update
// until its outcome has been told.
#include "os/guard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Writes one byte to `fd`: how far a child got.
void Mark(int fd, char c) {
    if (::write(fd, &c, 1) != 1) ::_exit(90);
}

std::string ReadAll(int fd) {
    std::string text;
    char c;
    while (::read(fd, &c, 1) == 1) text += c;
    return text;
}

TEST(PrepareProcess, ClosedStandardDescriptorsBecomeTheNullDeviceAndSigpipeIsIgnored) {
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(result[0]);
        const int report = ::fcntl(result[1], F_DUPFD_CLOEXEC, 10);
        ::close(0);
        ::close(1);
        ::close(2);
        if (!OsPrepareProcess()) ::_exit(1);
        for (int fd = 0; fd <= 2; ++fd) {
            char target[64] = {};
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            if (::readlink(link.c_str(), target, sizeof target - 1) < 0 || std::string(target) != "/dev/null")
                ::_exit(2);
        }
        // The next file opened (the drive, say) is never one of them.
        if (::open("/dev/null", O_RDONLY) < 3) ::_exit(3);
        int gone[2];
        if (::pipe(gone) != 0) ::_exit(4);
        ::close(gone[0]);
        // A reader that has gone: an error to this write, not the end of the process.
        if (::write(gone[1], "x", 1) != -1 || errno != EPIPE) ::_exit(5);
        Mark(report, 'k');
        ::_exit(0);
    }
    ::close(result[1]);
    EXPECT_EQ(ReadAll(result[0]), "k");
    ::close(result[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// --- Held signals -------------------------------------------------------------------

struct HeldSignals {
    const char* name;
    std::vector<int> sentByItself;  // by the child, while it holds signals
    int sentByAnother;              // by this process while the child holds signals; 0: none
    bool ownAbort;                  // the child aborts while it holds signals
    const char* marks;              // what the child got to write: s sent, l released
    std::vector<int> stops;         // the stops that follow, in order (each continued)
    int endSignal;                  // the signal that ends it; 0: it exits 0
    int notes;                      // how many times its note reached standard error
    bool blockedAtRelease = false;  // the child blocks every signal before the release
};
void PrintTo(const HeldSignals& c, std::ostream* os) { *os << c.name; }

class HoldSignals : public testing::TestWithParam<HeldSignals> {};

TEST_P(HoldSignals, SignalsThatWouldEndOrStopTheProcessWaitForTheRelease) {
    const HeldSignals& c = GetParam();
    std::vector<int> sent = c.sentByItself;
    if (c.sentByAnother) sent.push_back(c.sentByAnother);
    for (int s : sent) {
        struct sigaction current;
        ASSERT_EQ(::sigaction(s, nullptr, &current), 0);
        // A sanitizer's handler takes SIGSEGV and the like: they are left to it.
        if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
            GTEST_SKIP() << "signal " << s << " has a handler in this build";
    }
    int marks[2], go[2], err[2];
    ASSERT_EQ(::pipe(marks), 0);
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(err), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(marks[0]);
        ::close(go[1]);
        ::close(err[0]);
        ::dup2(err[1], 2);
        ::close(err[1]);
        ::setpgid(0, 0);  // a process group of its own, whose stops are not discarded
        const struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        OsSetHoldNote("held|");
        OsHoldSignals();
        Mark(marks[1], 'e');
        char c1;
        if (::read(go[0], &c1, 1) != 1) ::_exit(91);  // the other process's signal has come by now
        for (int s : c.sentByItself) ::kill(::getpid(), s);
        if (c.ownAbort) ::abort();
        Mark(marks[1], 's');
        if (c.blockedAtRelease) {
            sigset_t all;
            sigfillset(&all);
            ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        }
        OsReleaseSignals();
        Mark(marks[1], 'l');
        ::_exit(0);
    }
    ::close(marks[1]);
    ::close(go[0]);
    ::close(err[1]);
    char entered = 0;
    ASSERT_EQ(::read(marks[0], &entered, 1), 1);
    if (c.sentByAnother) {
        ASSERT_EQ(::kill(pid, c.sentByAnother), 0);
    }
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ::close(go[1]);

    int status = 0;
    for (int stop : c.stops) {
        ASSERT_EQ(::waitpid(pid, &status, WUNTRACED), pid);
        ASSERT_TRUE(WIFSTOPPED(status)) << status;
        EXPECT_EQ(WSTOPSIG(status), stop);
        ::kill(pid, SIGCONT);
    }
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (c.endSignal) {
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), c.endSignal);
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(ReadAll(marks[0]), c.marks);
    ::close(marks[0]);
    std::string notes;
    for (int n = 0; n < c.notes; ++n) notes += "held|";
    EXPECT_EQ(ReadAll(err[0]), notes);
    ::close(err[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HoldSignals,
    testing::Values(
        // The first held back, by number, is the one that ends it, once released.
        HeldSignals{"UserAndAlarm", {SIGALRM, SIGUSR1}, 0, false, "s", {}, SIGUSR1, 0},
        // Requests to end the process say at once that they wait.
        HeldSignals{"TerminateAndHangUp", {SIGTERM, SIGHUP}, 0, false, "s", {}, SIGHUP, 2},
        HeldSignals{"InterruptFromAnotherProcess", {}, SIGINT, false, "s", {}, SIGINT, 1},
        // Taken while the hold ran: a thread that has them blocked at the release
        // does not keep them from taking effect.
        HeldSignals{"ReleasedWhileBlocked", {SIGTERM}, SIGINT, false, "s", {}, SIGINT, 2, true},
        HeldSignals{"RealTime", {SIGRTMIN + 3}, 0, false, "s", {}, SIGRTMIN + 3, 0},
        HeldSignals{"StopsFromTheTerminal", {SIGTTOU, SIGTSTP, SIGTTIN}, 0, false, "sl", {SIGTSTP, SIGTTIN, SIGTTOU}, 0, 0},
        HeldSignals{"FaultSignalFromAnotherProcess", {}, SIGSEGV, false, "s", {}, SIGSEGV, 0},
        // A fault of its own cannot wait.
        HeldSignals{"OwnAbort", {}, 0, true, "", {}, SIGABRT, 0},
        HeldSignals{"Nothing", {}, 0, false, "sl", {}, 0, 0}),
    [](const testing::TestParamInfo<HeldSignals>& info) { return std::string(info.param.name); });

}  // namespace
