#include "testing/mock_logind.h"

#include "testing/missing.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Bounds for a hang, not measurements.
constexpr auto kStartBound = std::chrono::seconds(30);
constexpr auto kListBound = std::chrono::seconds(10);

constexpr char kLogindName[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string FindOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

// fork + exec with `env` (nullptr: this process's), standard output and error into
// `log` ("" for the null device), and `keepFd` (if >= 0) as descriptor 3.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>* env, const std::string& log,
            int keepFd = -1) {
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (env) {
        for (const std::string& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
    }
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int out =
        log.empty() ? ::open("/dev/null", O_WRONLY) : ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (keepFd == 3) {
        ::fcntl(3, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
    } else if (keepFd >= 0 && ::dup2(keepFd, 3) != 3) {
        ::_exit(126);
    }
    ::execve(argv[0], argv.data(), env ? envp.data() : environ);
    ::_exit(127);
}

int Wait(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A python3 that has dbusmock (the system's, which the package installs into,
// ahead of whatever else PATH offers); "" when none has.
std::string PythonWithDbusmock() {
    for (const std::string& python : {std::string("/usr/bin/python3"), FindOnPath("python3")}) {
        if (python.empty() || ::access(python.c_str(), X_OK) != 0) continue;
        const pid_t pid = Spawn({python, "-c", "import dbusmock, dbus, gi"}, nullptr, "");
        if (pid > 0 && Wait(pid) == 0) return python;
    }
    return "";
}

int OnNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) >= 0 && std::strcmp(name, kLogindName) == 0 &&
        after && *after)
        *static_cast<bool*>(userdata) = true;
    return 0;
}

void End(pid_t* pid) {
    if (*pid <= 0) return;
    ::kill(*pid, SIGTERM);
    ::waitpid(*pid, nullptr, 0);
    *pid = -1;
}

}  // namespace

MockLogind::~MockLogind() {
    sd_bus_flush_close_unref(m_client);
    End(&m_logind);
    End(&m_bus);
}

bool MockLogind::Start(bool withLogind) {
    std::string missing;
    std::string python;
    if (FindOnPath("dbus-daemon").empty()) {
        missing = "dbus-daemon";
    } else if (withLogind && (python = PythonWithDbusmock()).empty()) {
        missing = "python3-dbusmock";
    }
    if (!missing.empty()) {
        [&] { QM_MISSING(missing) << "tools/install-deps.sh installs it"; }();
        return false;
    }
    m_dir = ScratchDir("qm-logind");
    if (!m_dir.Made()) {
        ADD_FAILURE() << "scratch folder: " << std::strerror(errno);
        return false;
    }
    std::string problem;
    if (!StartBus(&problem) || (withLogind && !StartLogind(python, &problem))) {
        ADD_FAILURE() << problem;
        return false;
    }
    return true;
}

bool MockLogind::StartBus(std::string* problem) {
    // Everything allowed, nothing activated: a name nobody owns stays unknown.
    const std::string config = m_dir.Path() + "/bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <listen>unix:path="
                          << m_dir.Path()
                          << "/bus</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0) {
        *problem = "pipe failed";
        return false;
    }
    const std::string log = m_dir.Path() + "/bus.log";
    m_bus = Spawn({FindOnPath("dbus-daemon"), "--config-file=" + config, "--nofork", "--nopidfile",
                   "--print-address=3"},
                  nullptr, log, address[1]);
    ::close(address[1]);
    // The daemon prints its address once it listens.
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        struct pollfd p = {address[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t n = ::read(address[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(address[0]);
    if (m_bus <= 0 || text.find('\n') == std::string::npos) {
        *problem = "dbus-daemon did not start: " + ReadText(log);
        return false;
    }
    m_address = text.substr(0, text.find('\n'));
    return true;
}

bool MockLogind::StartLogind(const std::string& python, std::string* problem) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DBUS_SYSTEM_BUS_ADDRESS=", 24) != 0) env.push_back(*e);
    env.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + m_address);

    sd_bus* watch = Connect(problem);
    if (!watch) return false;
    bool owned = false;
    int r = sd_bus_match_signal(watch, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameOwnerChanged", &OnNameOwnerChanged, &owned);
    const std::string log = m_dir.Path() + "/logind.log";
    if (r >= 0) m_logind = Spawn({python, "-m", "dbusmock", "--template", "logind"}, &env, log);
    // Ready once it owns the name: it then takes calls (its template is loaded
    // before its loop reads the first).
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    while (r >= 0 && m_logind > 0 && !owned && std::chrono::steady_clock::now() < deadline) {
        r = sd_bus_process(watch, nullptr);
        if (r != 0) continue;
        if (::waitpid(m_logind, nullptr, WNOHANG) == m_logind) {
            m_logind = -1;
            break;
        }
        // Wakes on the next message, or now and then to see whether the mock has died.
        r = sd_bus_wait(watch, 200 * 1000);
    }
    sd_bus_flush_close_unref(watch);
    if (!owned) *problem = "python3-dbusmock's logind did not start: " + ReadText(log);
    return owned;
}

sd_bus* MockLogind::Connect(std::string* problem) {
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, m_address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
    if (r >= 0) return bus;
    *problem = "cannot connect to the private bus " + m_address + ": " + std::strerror(-r);
    sd_bus_flush_close_unref(bus);
    return nullptr;
}

bool MockLogind::Inhibitors(std::vector<MockInhibitor>* list) {
    std::lock_guard<std::mutex> lock(m_mutex);
    list->clear();
    std::string problem;
    if (!m_client && !(m_client = Connect(&problem))) {
        ADD_FAILURE() << problem;
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(m_client, kLogindName, kLogindPath, kLogindManager, "ListInhibitors", &error, &reply,
                               "");
    if (r >= 0) r = sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
    while (r >= 0) {
        const char *what, *who, *why, *mode;
        uint32_t uid, pid;
        r = sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid);
        if (r <= 0) break;
        list->push_back({what, who, why, mode});
    }
    if (r < 0)
        ADD_FAILURE() << "ListInhibitors: " << (error.message ? error.message : std::strerror(-r));
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0;
}

bool MockLogind::WaitForInhibitors(size_t count, std::vector<MockInhibitor>* last) {
    std::vector<MockInhibitor> list;
    const auto deadline = std::chrono::steady_clock::now() + kListBound;
    bool asked = Inhibitors(&list);
    // Each question is a round trip to the mock: no pause is needed between them.
    while (asked && list.size() != count && std::chrono::steady_clock::now() < deadline) asked = Inhibitors(&list);
    if (last) *last = list;
    return asked && list.size() == count;
}
