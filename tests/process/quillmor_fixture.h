// What every process test of quillmor has: a drive server of its own with the
// emulated drive behind the preload library (drive D is /dev/sr1), the runs it
// starts on a virtual clock (their sleeps take no real time), and waits that go by
// what the server writes into its transcript (watched with inotify) and by the
// processes' ends, never by a clock.
#pragma once
#include "app/linux/progress.h"
#include "sim/drive.h"
#include "sim/image.h"
#include "testing/mock_logind.h"
#include "testing/scratch_dir.h"
#include "testing/twin_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace process_test {

// Bounds for a hang, not measurements.
constexpr int kEventTimeoutMs = 30000;

const char kDevice[] = "/dev/sr1";  // drive D to the native program
const char kSecondDevice[] = "/dev/sr2";  // drive E, when a scenario has one
const char kWriteBlock[] = "D 3B05F0";
const char kInUse[] = "is in use (opened by another updater or program); it is left as it is.";

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's SHA-256 as coreutils' sha256sum prints it (64 lower-case hex digits);
// empty when it fails.
inline std::string Sha256Sum(const std::string& path) {
    FILE* out = ::popen(("sha256sum -- '" + path + "'").c_str(), "r");
    if (!out) return "";
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, out) != nullptr;
    const bool ended = ::pclose(out) == 0;
    const std::string digest = std::string(line).substr(0, 64);
    return read && ended && digest.size() == 64 ? digest : "";
}

inline int CountLines(const std::string& text, const std::string& prefix) {
    int n = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

// Waits (inotify, bounded) until `ready` holds; it is asked first, then after
// each change in `dir`, a write to a file still open (a log) included.
inline bool WaitInDirectory(const std::string& dir, const std::function<bool()>& ready) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0) return false;
    ::inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
    bool done = ready();
    while (!done) {
        struct pollfd p = {watch, POLLIN, 0};
        if (::poll(&p, 1, kEventTimeoutMs) <= 0) break;
        char events[4096];
        if (::read(watch, events, sizeof events) <= 0) break;
        done = ready();
    }
    ::close(watch);
    return done;
}

struct Child {
    pid_t pid = -1;
    std::string errPath;  // its standard error, when kept in a file
    std::string outPath;  // its standard output, when kept apart from standard error
};

// How a run of quillmor is started.
struct RunOptions {
    std::string runtimeDir;        // XDG_RUNTIME_DIR: its own updater mutex
    bool closeStandard = false;    // starts with descriptors 0-2 closed
    int errFd = -1;                // standard error; -1: a file in the work folder
    bool listCommands = false;     // the preload library lists its commands on standard error
    std::string systemBus{};       // DBUS_SYSTEM_BUS_ADDRESS; "": a socket nobody listens on,
                                   // so that no run reaches this machine's own logind
    std::vector<std::string> args{"/au"};
    bool pty = false;              // standard descriptors are a pseudo-terminal (see ReadPty)
    bool separateOut = false;      // standard output to a file of its own, not standard error's
    unsigned short columns = 0;    // the pseudo-terminal's width (0: none set)
};

// `text` without the blanks a redraw pads a shorter line with.
inline std::string TrimmedRight(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// The opcodes of the commands a run sent, from the preload library's list.
inline std::vector<std::string> OpcodesSent(const std::string& err) {
    std::vector<std::string> opcodes;
    const std::string prefix = std::string("qm_sgpreload: ") + kDevice + " ";
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(prefix, 0) == 0 && line.compare(prefix.size() + 2, 5, " len ") == 0)
            opcodes.push_back(line.substr(prefix.size(), 2));
    return opcodes;
}

class Quillmor : public testing::Test {
protected:
    void SetUp() override {
        scratch_ = ScratchDir("qm-process");
        ASSERT_TRUE(scratch_.Made()) << std::strerror(errno);
        work_ = scratch_.Path();
        std::string error;
        ASSERT_TRUE(SimWriteImage(work_ + "/" + SIM_IMAGE_FILE_NAME, SimImageOptions(), &error)) << error;
        uint64_t digest = 0;
        ASSERT_TRUE(SimDigestFile(work_ + "/" + SIM_IMAGE_FILE_NAME, &digest));
        imageDigest_ = SimDigestText(digest);
    }
    void TearDown() override {
        // A run that a failed check left behind (stopped, say) goes first.
        for (pid_t pid : running_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            ::waitpid(server_, nullptr, 0);
        }
        EXPECT_TRUE(scratch_.Remove()) << work_;
    }

    // Starts the drive server with one drive D of this scenario, and waits for its socket.
    void StartServer(const std::string& scenario) {
        std::ofstream(work_ + "/scenario") << scenario;
        ASSERT_EQ(::mkdir(State().c_str(), 0700), 0);
        server_ = Spawn({QM_DRIVE_SERVER, "--socket", Socket(), "--scenario", work_ + "/scenario", "--state", State()},
                        {}, [this] { Redirect(::open((work_ + "/server.log").c_str(), O_WRONLY | O_CREAT, 0600), 2); });
        ASSERT_GT(server_, 0);
        ASSERT_TRUE(WaitInDirectory(work_, [this] { return ::access(Socket().c_str(), F_OK) == 0; }))
            << ReadFile(work_ + "/server.log");
    }

    // Ends the drive server and clears its state, for another StartServer.
    void StopServer() {
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            ::waitpid(server_, nullptr, 0);
        }
        server_ = -1;
        EXPECT_TRUE(RemoveTree(State()) && RemoveTree(Socket()));
    }

    // Starts `quillmor /au` in the work folder (where the image is).
    Child StartUpdater(const RunOptions& options) {
        Child child;
        if (options.errFd < 0) child.errPath = options.runtimeDir + ".err";
        if (options.separateOut) child.outPath = options.runtimeDir + ".out";
        ::mkdir(options.runtimeDir.c_str(), 0700);
        std::vector<std::string> env = {"LD_PRELOAD=" QM_SG_PRELOAD " " QM_CLOCK_PRELOAD, "QM_SG_DEVICE=" + FencedDevices(),
                                        "QM_SG_SOCKET=" + Socket(), "XDG_RUNTIME_DIR=" + options.runtimeDir,
                                        "LC_ALL=C",
                                        "DBUS_SYSTEM_BUS_ADDRESS=" +
                                            (options.systemBus.empty() ? "unix:path=" + work_ + "/no-bus"
                                                                       : options.systemBus)};
        if (options.listCommands) env.push_back("QM_SG_DEBUG=1");
        std::vector<std::string> argv{QM_QUILLMOR};
        argv.insert(argv.end(), options.args.begin(), options.args.end());
        int slave = -1;
        if (options.pty) {
            ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (ptyMaster_ < 0 || ::grantpt(ptyMaster_) != 0 || ::unlockpt(ptyMaster_) != 0) return child;
            slave = ::open(::ptsname(ptyMaster_), O_RDWR | O_NOCTTY);
            if (slave < 0) return child;
            struct winsize size = {};
            size.ws_col = options.columns;
            size.ws_row = 24;
            if (options.columns) ::ioctl(slave, TIOCSWINSZ, &size);
        }
        child.pid = Spawn(argv, env, [&] {
            if (options.pty) {
                ::setsid();
                ::ioctl(slave, TIOCSCTTY, 0);
                for (int fd = 0; fd <= 2; ++fd) ::dup2(slave, fd);
                ::close(slave);
                ::close(ptyMaster_);
                return;
            }
            ::setpgid(0, 0);  // stops from the terminal are not discarded for it
            if (options.closeStandard) {
                for (int fd = 0; fd <= 2; ++fd) ::close(fd);
                return;
            }
            Redirect(::open("/dev/null", O_RDWR), 0);
            Redirect(options.errFd >= 0 ? options.errFd
                                        : ::open(child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                     2);
            if (options.separateOut)
                Redirect(::open(child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            else
                ::dup2(2, 1);  // --help and --version print to standard output
        });
        if (slave >= 0) ::close(slave);
        if (child.pid > 0) running_.push_back(child.pid);
        return child;
    }

    // A whole run of quillmor `args`, not on a terminal: its exit code and what it
    // printed, standard output apart when `separateOut`.
    struct Finished {
        int code;
        std::string err;
        std::string out;      // with separateOut
        std::string outPath;  // where `out` was kept
    };
    Finished RunToEnd(const std::vector<std::string>& args, bool separateOut = false) {
        RunOptions options{RunDir("run")};
        options.args = args;
        options.separateOut = separateOut;
        const Child run = StartUpdater(options);
        Finished done;
        done.code = Wait(run);
        done.err = ReadFile(run.errPath);
        if (separateOut) done.out = ReadFile(run.outPath);
        done.outPath = run.outPath;
        return done;
    }

    // A whole run of quillmor `args` on a pseudo-terminal `columns` wide (0: none
    // set), typed `typed`: what it showed, and its exit code.
    struct TerminalRun {
        std::string screen;
        int code;
    };
    TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& typed,
                              unsigned short columns = 0) {
        RunOptions options{RunDir("run")};
        options.args = args;
        options.pty = true;
        options.columns = columns;
        const Child run = StartUpdater(options);
        std::string screen = ReadPty(typed);
        return {screen, Wait(run)};
    }

    // An interactive run of quillmor `args` on a pseudo-terminal, its warning
    // accepted, up to the question whether to update from 1.00 to 1.10; what it
    // showed until then goes to `asked`. The question is answered with ReadPty.
    Child StartUntilAsked(const std::vector<std::string>& args, std::string* asked) {
        RunOptions options{RunDir("run")};
        options.args = args;
        options.pty = true;
        const Child run = StartUpdater(options);
        *asked = ReadPtyUntil("y\n", "from 1.00 to 1.10? [y/N]");
        return run;
    }

    // Types `typed` into the pseudo-terminal of the last pty run and reads what it
    // prints until `shown` has appeared; the terminal stays open.
    std::string ReadPtyUntil(const std::string& typed, const std::string& shown) {
        std::string text;
        if (ptyMaster_ < 0) return text;
        if (!typed.empty() && ::write(ptyMaster_, typed.data(), typed.size()) < 0) return text;
        char buffer[4096];
        while (text.find(shown) == std::string::npos) {
            struct pollfd p = {ptyMaster_, POLLIN, 0};
            if (::poll(&p, 1, kEventTimeoutMs) <= 0) break;
            const ssize_t n = ::read(ptyMaster_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

    // Types `typed` into the pseudo-terminal of the last pty run and reads all it
    // prints until it has closed the terminal (ended).
    std::string ReadPty(const std::string& typed) {
        std::string text;
        if (ptyMaster_ < 0) return text;
        if (!typed.empty() && ::write(ptyMaster_, typed.data(), typed.size()) < 0) return text;
        char buffer[4096];
        for (;;) {
            struct pollfd p = {ptyMaster_, POLLIN, 0};
            if (::poll(&p, 1, kEventTimeoutMs) <= 0) break;
            const ssize_t n = ::read(ptyMaster_, buffer, sizeof buffer);
            if (n <= 0) break;  // EIO: the run has closed its side
            text.append(buffer, static_cast<size_t>(n));
        }
        ::close(ptyMaster_);
        ptyMaster_ = -1;
        return text;
    }

    // Waits for the end of a run; its exit code, or 128 + the signal that ended it.
    int Wait(const Child& child) {
        int status = 0;
        if (::waitpid(child.pid, &status, 0) != child.pid) return -1;
        running_.erase(std::remove(running_.begin(), running_.end(), child.pid), running_.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // The server's answer to a control command.
    std::string Control(const std::string& command) {
        int out[2];
        if (::pipe(out) != 0) return "";
        const pid_t pid = Spawn({QM_DRIVE_SERVER, "--socket", Socket(), "--control", command}, {},
                                [&] { Redirect(out[1], 1); });
        ::close(out[1]);
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        ::close(out[0]);
        ::waitpid(pid, nullptr, 0);
        return text;
    }
    std::string Transcript() { return ReadFile(State() + "/transcript.txt"); }
    std::string Digest() { return Control("digest D"); }
    bool Applied() { return Control("status D").find(" applied=1 ") != std::string::npos; }

    // Waits until the drive has received at least `blocks` blocks of the image.
    bool WaitForBlocks(int blocks) {
        return WaitInDirectory(State(), [&] { return CountLines(Transcript(), kWriteBlock) >= blocks; });
    }

    // D at the server; every real sr device of this machine (C..Z are /dev/sr0..23
    // to the native program) goes to a letter where the server has no drive, so a
    // real drive is never probed.
    static std::string FencedDevices() {
        std::string devices = std::string(kDevice) + "=D;" + kSecondDevice + "=E";
        for (int n = 0; n < 24; ++n) {
            const std::string path = "/dev/sr" + std::to_string(n);
            if (path != kDevice && path != kSecondDevice && ::access(path.c_str(), F_OK) == 0) devices += ";" + path + "=" + char('C' + n);
        }
        return devices;
    }

    std::string Socket() const { return work_ + "/drive.sock"; }
    std::string State() const { return work_ + "/state"; }
    std::string RunDir(const char* name) const { return work_ + "/" + name; }

    ScratchDir scratch_;
    std::string work_;
    std::string imageDigest_;

private:
    static void Redirect(int fd, int to) {
        if (fd >= 0 && fd != to) {
            ::dup2(fd, to);
            ::close(fd);
        }
    }

    // fork + exec with `extraEnv` over this process's environment; `inChild` runs
    // in the child before the exec.
    pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                const std::function<void()>& inChild) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& extra : extraEnv)
                if (entry.compare(0, entry.find('=') + 1, extra, 0, extra.find('=') + 1) == 0) replaced = true;
            if (!replaced && entry.rfind("QM_SG_", 0) != 0 && entry.rfind("LD_PRELOAD=", 0) != 0) env.push_back(entry);
        }
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> argv, envp;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const struct rlimit noCore = {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            if (::chdir(work_.c_str()) != 0) ::_exit(126);
            inChild();
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        return pid;
    }

    pid_t server_ = -1;
    int ptyMaster_ = -1;
    std::vector<pid_t> running_;  // runs not yet waited for
};

}  // namespace process_test
