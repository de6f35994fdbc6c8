// Process hygiene on Linux: standard descriptors that are never the drive's, no
// death by SIGPIPE, and signals held back from the start of an update until its
// outcome has been told.
#include "os/guard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static_assert(ATOMIC_INT_LOCK_FREE == 2 && ATOMIC_BOOL_LOCK_FREE == 2, "used from signal handlers");

namespace {

// What the hold has replaced: the action of each signal it holds back.
struct sigaction g_saved[NSIG];
bool g_installed[NSIG];
std::atomic<int> g_pending[NSIG];
std::atomic<bool> g_deferring{false};
std::atomic<const char*> g_note{nullptr};

// Someone asks the process to end: the terminal, a kill, a closed session.
bool AsksToEnd(int signal) {
    return signal == SIGINT || signal == SIGTERM || signal == SIGHUP || signal == SIGQUIT;
}

// Signals that a fault of the process's own raises; from another process they are
// held back like any other.
bool IsFaultSignal(int signal) {
    switch (signal) {
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGBUS:
    case SIGFPE:
    case SIGSEGV:
    case SIGSYS:
        return true;
    default:
        return false;
    }
}

// Whose default action ends or stops the process (and that can be caught).
bool EndsOrStops(int signal) {
    switch (signal) {
    case SIGKILL:
    case SIGSTOP:
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
        return false;
    default:
        break;
    }
    // 32 and 33 belong to the C library's threads.
    return signal < 32 || (signal >= SIGRTMIN && signal <= SIGRTMAX);
}

// Acts on every signal held back, in the order of their numbers; adds each to
// `raised` if given. Async-signal-safe.
void RaisePending(sigset_t* raised = nullptr) {
    for (int s = 1; s < NSIG; ++s) {
        if (g_pending[s].exchange(0) == 0) continue;
        raise(s);
        if (raised) sigaddset(raised, s);
    }
}

void HoldBack(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    if (IsFaultSignal(signal) && !(info && info->si_code <= 0 && info->si_pid != getpid())) {
        // A fault here (or the program's own abort) cannot wait: the old action takes it.
        sigaction(signal, &g_saved[signal], nullptr);
        raise(signal);
        errno = savedErrno;
        return;
    }
    g_pending[signal].store(1);
    const char* note = g_note.load();
    if (note && AsksToEnd(signal)) {
        ssize_t ignored = ::write(STDERR_FILENO, note, std::strlen(note));
        (void)ignored;
    }
    // The hold was released while this ran: the releasing thread may have looked
    // already. What is raised here takes effect once the handler returns.
    if (!g_deferring.load()) RaisePending();
    errno = savedErrno;
}

}  // namespace

bool OsPrepareProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number: this one, since those below are open.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened != fd) {
            if (opened >= 0) ::close(opened);
            return false;
        }
    }
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

void OsHoldSignals() {
    if (g_deferring.exchange(true)) return;
    struct sigaction hold;
    std::memset(&hold, 0, sizeof hold);
    hold.sa_sigaction = &HoldBack;
    sigemptyset(&hold.sa_mask);
    for (int s = 1; s < NSIG; ++s)
        if (EndsOrStops(s)) sigaddset(&hold.sa_mask, s);  // one handler at a time
    for (int s = 1; s < NSIG; ++s) {
        g_installed[s] = false;
        struct sigaction current;
        if (!EndsOrStops(s) || sigaction(s, nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
        g_saved[s] = current;
        // A terminal that stops background output or input sends these from inside
        // the read or write, again for every restart: that call fails instead.
        hold.sa_flags = SA_SIGINFO | ((s == SIGTTOU || s == SIGTTIN) ? 0 : SA_RESTART);
        g_installed[s] = sigaction(s, &hold, nullptr) == 0;
    }
}

void OsReleaseSignals() {
    if (!g_deferring.load()) return;
    for (int s = 1; s < NSIG; ++s) {
        if (g_installed[s]) sigaction(s, &g_saved[s], nullptr);
        g_installed[s] = false;
    }
    g_deferring.store(false);
    sigset_t raised, before;
    sigemptyset(&raised);
    RaisePending(&raised);
    // The process took these while they were unblocked, but the releasing thread
    // may have them blocked now (ThreadSanitizer's deferred delivery has left a
    // thread with everything blocked), and then the exit would drop them. Unblocked
    // for as long as it takes to deliver them.
    if (pthread_sigmask(SIG_UNBLOCK, &raised, &before) == 0) pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void OsSetHoldNote(const char* note) { g_note.store(note); }
