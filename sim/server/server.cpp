// qm-drive-server: holds the emulated drives of a scenario and answers the
// preload library's requests on a Unix socket, keeping the drives' state across
// client runs. With --control it is instead a client that sends one control
// command to a running server and prints the answer.
//
// The state folder's transcript gains a line per command; its status file is
// written when asked for, not after every command: its digest covers the whole
// firmware area, which would cost more than the command itself. Every control
// command, the start, a reset and the end make it current.
#include "sim/drive.h"
#include "sim/scenario.h"
#include "sim/wire.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
char g_socketPath[sizeof(sockaddr_un::sun_path)];

const char kUsage[] =
    "usage: qm-drive-server --socket PATH --scenario FILE [--state DIR] [--verbose]\n"
    "       qm-drive-server --socket PATH --control COMMAND\n"
    "control commands: status | transcript [LETTER] | digest [LETTER] | clear | reset\n";

bool ReadAll(int fd, void* to, size_t size) {
    auto* p = static_cast<uint8_t*>(to);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool WriteAll(int fd, const void* from, size_t size) {
    auto* p = static_cast<const uint8_t*>(from);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool MakeAddress(const std::string& path, sockaddr_un* address) {
    if (path.empty() || path.size() >= sizeof address->sun_path) return false;
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, path.c_str(), path.size());
    return true;
}

class Server {
public:
    Server(std::string scenarioPath, std::string stateDir, bool verbose)
        : m_scenarioPath(std::move(scenarioPath)), m_stateDir(std::move(stateDir)), m_verbose(verbose) {}

    bool Load(std::string* error) {
        std::vector<SimDriveConfig> configs;
        if (!SimLoadScenario(m_scenarioPath, &configs, error)) return false;
        std::unique_lock<std::shared_mutex> drivesLock(m_drivesMutex);
        m_drives.clear();
        for (const auto& c : configs) m_drives.push_back(std::make_unique<SimDrive>(c));
        std::lock_guard<std::mutex> stateLock(m_stateMutex);
        if (!m_stateDir.empty()) std::ofstream(m_stateDir + "/transcript.txt", std::ios::trunc);
        WriteStatusLocked();
        return true;
    }

    // Writes the status file if a command has run since it was last written.
    void MakeStatusCurrent() {
        std::shared_lock<std::shared_mutex> drivesLock(m_drivesMutex);
        std::lock_guard<std::mutex> stateLock(m_stateMutex);
        if (m_statusStale) WriteStatusLocked();
    }

    // Requests and replies in turn, for as long as the client keeps the
    // connection; a malformed request or a failed transfer ends it.
    void Serve(int client) {
        qm_wire_request request;
        bool ok = true;
        while (ok && ReadAll(client, &request, sizeof request) && request.magic == QM_WIRE_MAGIC &&
               request.data_length <= QM_WIRE_MAX_DATA) {
            if (request.kind == QM_WIRE_COMMAND)
                ok = Command(client, request);
            else if (request.kind == QM_WIRE_CONTROL)
                ok = Control(client, request);
            else
                ok = false;
        }
        ::close(client);
    }

private:
    SimDrive* Find(uint8_t letter) {
        if (m_drives.empty()) return nullptr;
        if (letter == 0) return m_drives.front().get();
        for (auto& d : m_drives)
            if (d->Letter() == char(letter)) return d.get();
        return nullptr;
    }

    // False when the connection is no longer usable.
    bool Command(int client, const qm_wire_request& request) {
        std::vector<uint8_t> data(request.data_length);
        if (request.direction == SIM_DIR_OUT && !ReadAll(client, data.data(), data.size())) return false;
        qm_wire_reply reply{};
        reply.magic = QM_WIRE_MAGIC;
        std::vector<uint8_t> sense(std::min<uint32_t>(request.sense_length, 252));
        {
            std::shared_lock<std::shared_mutex> drivesLock(m_drivesMutex);
            SimDrive* drive = Find(request.drive);
            if (request.cdb_len < 1 || request.cdb_len > 16 || request.direction > SIM_DIR_NONE) {
                reply.status = QM_WIRE_BAD_REQUEST;
            } else if (!drive) {
                reply.status = QM_WIRE_NO_DRIVE;
            } else {
                uint8_t cdb[16];
                std::memcpy(cdb, request.cdb, sizeof cdb);
                const SimResult r = drive->Run(cdb, request.cdb_len, request.direction, data.data(),
                                               request.data_length, sense.data(), int(sense.size()));
                reply.status = r.status;
                reply.transferred = r.transferred;
                reply.resid = int32_t(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, r.residual)));
                reply.sense_length = uint32_t(r.senseWritten);
                if (request.direction == SIM_DIR_IN) reply.data_length = r.transferred;
                Record(*drive, r.record);
            }
        }
        return WriteAll(client, &reply, sizeof reply) &&
               (!reply.data_length || WriteAll(client, data.data(), reply.data_length)) &&
               (!reply.sense_length || WriteAll(client, sense.data(), reply.sense_length));
    }

    // Appends the command's line to the transcript file; the status waits until
    // it is asked for. Runs before the reply goes out, so a control command sent
    // after the reply arrived finds the status stale and rewrites it.
    void Record(const SimDrive& drive, size_t index) {
        const std::string line = drive.Record(index).Format(drive.Letter());
        std::lock_guard<std::mutex> stateLock(m_stateMutex);
        if (m_verbose) std::fprintf(stderr, "%s\n", line.c_str());
        if (m_stateDir.empty()) return;
        std::ofstream(m_stateDir + "/transcript.txt", std::ios::app) << line << '\n';
        m_statusStale = true;
    }

    void WriteStatusLocked() {
        m_statusStale = false;
        if (m_stateDir.empty()) return;
        const std::string temp = m_stateDir + "/status.txt.new";
        {
            std::ofstream out(temp, std::ios::trunc);
            out << StatusText();
        }
        std::rename(temp.c_str(), (m_stateDir + "/status.txt").c_str());
    }

    std::string StatusText() {
        std::string text;
        for (auto& d : m_drives) text += d->StatusLine() + '\n';
        return text;
    }

    bool Control(int client, const qm_wire_request& request) {
        std::string text(request.data_length, '\0');
        if (!ReadAll(client, &text[0], text.size())) return false;
        std::istringstream words(text);
        std::string command, argument;
        words >> command >> argument;
        std::string answer;
        int32_t status = 0;
        if (command == "reset") {
            std::string error;
            if (!Load(&error)) {
                answer = error + '\n';
                status = 1;
            }
        } else {
            MakeStatusCurrent();
            std::shared_lock<std::shared_mutex> drivesLock(m_drivesMutex);
            std::vector<SimDrive*> chosen;
            if (argument.empty()) {
                for (auto& d : m_drives) chosen.push_back(d.get());
            } else if (SimDrive* d = Find(uint8_t(std::toupper(static_cast<unsigned char>(argument[0]))))) {
                chosen.push_back(d);
            }
            if (chosen.empty()) {
                answer = "no drive " + argument + '\n';
                status = 1;
            } else if (command == "status") {
                for (SimDrive* d : chosen) answer += d->StatusLine() + '\n';
            } else if (command == "transcript") {
                for (SimDrive* d : chosen)
                    for (const auto& r : d->Transcript()) answer += r.Format(d->Letter()) + '\n';
            } else if (command == "digest") {
                for (SimDrive* d : chosen) answer += SimDigestText(d->ImageDigest()) + '\n';
            } else if (command == "clear") {
                for (SimDrive* d : chosen) d->ClearTranscript();
                std::lock_guard<std::mutex> stateLock(m_stateMutex);
                if (!m_stateDir.empty()) std::ofstream(m_stateDir + "/transcript.txt", std::ios::trunc);
            } else {
                answer = "unknown control command '" + command + "'\n" + kUsage;
                status = 1;
            }
        }
        qm_wire_reply reply{};
        reply.magic = QM_WIRE_MAGIC;
        reply.status = status;
        reply.data_length = uint32_t(answer.size());
        return WriteAll(client, &reply, sizeof reply) && WriteAll(client, answer.data(), answer.size());
    }

    std::string m_scenarioPath, m_stateDir;
    bool m_verbose;
    std::shared_mutex m_drivesMutex;  // commands share it; a reset takes it alone
    std::mutex m_stateMutex;          // the state files and m_statusStale
    bool m_statusStale = false;       // a command ran since the status file was written
    std::vector<std::unique_ptr<SimDrive>> m_drives;
};

int ConnectTo(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, &address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int RunControl(const std::string& socketPath, const std::string& command) {
    const int fd = ConnectTo(socketPath);
    if (fd < 0) {
        std::fprintf(stderr, "qm-drive-server: no server at %s: %s\n", socketPath.c_str(), std::strerror(errno));
        return 2;
    }
    qm_wire_request request{};
    request.magic = QM_WIRE_MAGIC;
    request.kind = QM_WIRE_CONTROL;
    request.data_length = uint32_t(command.size());
    qm_wire_reply reply{};
    std::string answer;
    bool ok = WriteAll(fd, &request, sizeof request) && WriteAll(fd, command.data(), command.size()) &&
              ReadAll(fd, &reply, sizeof reply) && reply.magic == QM_WIRE_MAGIC &&
              reply.data_length <= QM_WIRE_MAX_DATA;
    if (ok) {
        answer.resize(reply.data_length);
        ok = ReadAll(fd, &answer[0], answer.size());
    }
    ::close(fd);
    if (!ok) {
        std::fprintf(stderr, "qm-drive-server: the server did not answer\n");
        return 2;
    }
    std::fwrite(answer.data(), 1, answer.size(), reply.status == 0 ? stdout : stderr);
    return reply.status == 0 ? 0 : 1;
}

// The end on SIGTERM, SIGINT or SIGHUP, taken by a thread of its own (the
// signals are blocked everywhere else): the status file is made current, the
// socket removed.
void EndOnSignal(Server* server, sigset_t signals) {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    server->MakeStatusCurrent();
    ::unlink(g_socketPath);
    _exit(0);
}
}  // namespace

int main(int argc, char** argv) {
    std::string socketPath, scenarioPath, stateDir, control;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* to) {
            if (i + 1 >= argc) return false;
            *to = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--socket")
            ok = value(&socketPath);
        else if (arg == "--scenario")
            ok = value(&scenarioPath);
        else if (arg == "--state")
            ok = value(&stateDir);
        else if (arg == "--control")
            ok = value(&control);
        else if (arg == "--verbose")
            verbose = true;
        else
            ok = false;
        if (!ok) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    sockaddr_un address;
    if (!MakeAddress(socketPath, &address)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!control.empty()) return RunControl(socketPath, control);
    if (scenarioPath.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!stateDir.empty()) ::mkdir(stateDir.c_str(), 0777);

    // Before any thread starts, so that every thread inherits the mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    Server server(scenarioPath, stateDir, verbose);
    std::string error;
    if (!server.Load(&error)) {
        std::fprintf(stderr, "qm-drive-server: %s\n", error.c_str());
        return 1;
    }

    // A socket left by a server that died may be replaced; a live one may not.
    const int probe = ConnectTo(socketPath);
    if (probe >= 0) {
        ::close(probe);
        std::fprintf(stderr, "qm-drive-server: a server already answers at %s\n", socketPath.c_str());
        return 1;
    }
    ::unlink(socketPath.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "qm-drive-server: cannot listen at %s: %s\n", socketPath.c_str(), std::strerror(errno));
        return 1;
    }
    std::memcpy(g_socketPath, address.sun_path, sizeof g_socketPath);
    std::thread(EndOnSignal, &server, endSignals).detach();

    for (;;) {
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            std::fprintf(stderr, "qm-drive-server: accept: %s\n", std::strerror(errno));
            break;
        }
        // One thread per connection: a slow command on one drive holds up no other.
        std::thread([&server, client] { server.Serve(client); }).detach();
    }
    ::unlink(g_socketPath);
    return 1;
}
