#include "app/linux/drive_watch.h"

#include "app/linux/options.h"
#include "commands/big_endian.h"
#include "commands/commands.h"
#include "engine/update.h"
#include "os/linux/text.h"
#include "os/named.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr uint8_t kStatusGood = 0;
}  // namespace

std::string DriveWatch::Stamp() const {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local;
    localtime_r(&seconds, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    char withMs[48];
    std::snprintf(withMs, sizeof withMs, "%s.%03ld", text, ms);
    return withMs;
}

void DriveWatch::Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_log) return;
    std::fprintf(m_log, "%s %s\n", Stamp().c_str(), text.c_str());
    std::fflush(m_log);
}

std::string DriveWatch::InUse() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inUse;
}

std::string DriveWatch::Denied() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_denied;
}

std::string DriveWatch::Probed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_probed;
}

void DriveWatch::ForgetRefusals() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inUse.clear();
    m_denied.clear();
    m_probed.clear();
}

OsHandle DriveWatch::Open(char driveLetter) {
    if (m_only != 0 && driveLetter != m_only) return nullptr;
    bool held = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& open : m_letters) held = held || open.second == driveLetter;
    }
    // A second claim of our own would be refused as well.
    if (held) return Track(m_inner.Open(driveLetter), driveLetter);
    return Claim(driveLetter);
}

OsHandle DriveWatch::OpenForUpdate(char driveLetter) {
    if (m_only != 0 && driveLetter != m_only) return nullptr;
    return Claim(driveLetter);
}

OsHandle DriveWatch::Claim(char driveLetter) {
    errno = 0;
    const OsHandle handle = m_inner.OpenForUpdate(driveLetter);
    const int why = errno;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto note = [driveLetter](std::string* list) {
            if (list->find(driveLetter) != std::string::npos) return;
            *list += driveLetter;
            std::sort(list->begin(), list->end());
        };
        if (handle != nullptr || (why != ENOENT && why != ENXIO && why != 0)) note(&m_probed);
        if (handle == nullptr && why == EBUSY) note(&m_inUse);
        if (handle == nullptr && (why == EACCES || why == EPERM)) note(&m_denied);
    }
    Track(handle, driveLetter);
    errno = why;
    return handle;
}

OsHandle DriveWatch::Track(OsHandle handle, char driveLetter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (handle) m_letters[handle] = driveLetter;
    return handle;
}

void DriveWatch::Close(OsHandle device) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_letters.erase(device);
    }
    m_inner.Close(device);
}

std::string DriveWatch::CommandText(OsHandle device, const ScsiPassThroughDirect& before, const SptdBuffer& after,
                                    bool answered) const {
    char cdb[25];
    for (int i = 0; i < 12; ++i) std::snprintf(cdb + 2 * i, 3, "%02X", before.Cdb[i]);
    const char* dir = before.DataTransferLength == 0 ? "none" : before.DataIn == SPTD_DATA_IN ? "in" : "out";
    char status[8] = "none";
    if (answered) std::snprintf(status, sizeof status, "%02X", after.sptd.ScsiStatus);
    unsigned key = 0, asc = 0, ascq = 0;
    if (answered && after.sptd.ScsiStatus != kStatusGood && after.sptd.SenseInfoLength >= 14) {
        key = after.sense[2] & 0x0F;
        asc = after.sense[12];
        ascq = after.sense[13];
    }
    const uint32_t asked = before.DataTransferLength;
    const uint32_t moved = answered ? after.sptd.DataTransferLength : 0;
    // More moved than was asked is no transfer that happened: no residual to tell.
    char residual[16] = "?";
    if (moved <= asked) std::snprintf(residual, sizeof residual, "%u", unsigned(asked - moved));
    const auto found = m_letters.find(device);
    const char letter = found == m_letters.end() ? 0 : found->second;
    char line[200];
    std::snprintf(line, sizeof line, "%s %s cdblen=%u dir=%s len=%u status=%s sense=%02X/%02X/%02X xfer=%u resid=%s",
                  DevicePathOfLetter(letter).c_str(), cdb, unsigned(before.CdbLength), dir, unsigned(asked), status,
                  key, asc, ascq, unsigned(moved), residual);
    return line;
}

bool DriveWatch::PassThrough(OsHandle device, SptdBuffer* buffer) {
    if (!buffer) return m_inner.PassThrough(device, buffer);
    const ScsiPassThroughDirect before = buffer->sptd;
    const bool answered = m_inner.PassThrough(device, buffer);
    const ScsiPassThroughDirect& after = buffer->sptd;
    const bool good = answered && after.ScsiStatus == kStatusGood;
    const uint8_t op = before.Cdb[0];

    uint32_t blocksNow = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (op == START_STOP_CMD) m_ejectSent = true;
        if (op == WRITE_BUFFER_CMD && before.Cdb[2] == BUFFER_MODE_SWITCH) ++m_modeSwitches;
        if (op == WRITE_BUFFER_CMD && before.Cdb[2] == BUFFER_FIRMWARE && good &&
            after.DataTransferLength == before.DataTransferLength) {
            const uint32_t upTo = GetBig24(before.Cdb + 3) / IMAGE_BLOCK_SIZE + 1;
            if (upTo > m_blocks) m_blocks = upTo;
            blocksNow = m_blocks;
        }
        if (m_log || m_trace) {
            const std::string line = CommandText(device, before, *buffer, answered);
            if (m_log) {
                std::fprintf(m_log, "%s %s\n", Stamp().c_str(), line.c_str());
                std::fflush(m_log);
            }
            if (m_trace) {
                std::fprintf(m_trace, "quillmor: %s\n", line.c_str());
                std::fflush(m_trace);
            }
        }
    }
    if (blocksNow != 0 && m_onBlock) m_onBlock(blocksNow);
    return answered;
}

FILE* OpenLog(const std::string& path) {
    // Non-blocking, so that a FIFO in its place cannot hold the open; refused below.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        // A FIFO without a reader, a device that is absent, a directory: no regular file.
        if (errno == ENXIO || errno == EISDIR) errno = EPERM;
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
        ::fcntl(fd, F_SETFL, O_APPEND) != 0) {
        ::close(fd);
        errno = EPERM;
        return nullptr;
    }
    FILE* log = ::fdopen(fd, "a");
    if (!log) ::close(fd);
    return log;
}

std::string ShellQuoted(const std::string& word) {
    static const char kPlain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    bool plain = !word.empty(), control = false;
    for (char ch : word) {
        const unsigned char c = static_cast<unsigned char>(ch);
        plain = plain && std::strchr(kPlain, ch) != nullptr && ch != 0;
        control = control || c < 0x20 || c == 0x7F;
    }
    if (plain) return word;
    if (!control) {
        std::string quoted = "'";
        for (char ch : word) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
        return quoted + "'";
    }
    std::string quoted = "$'";
    for (char ch : word) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (ch == '\'' || ch == '\\') {
            quoted += '\\';
            quoted += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            quoted += escape;
        } else {
            quoted += ch;
        }
    }
    return quoted + "'";
}

std::vector<std::string> LogHeader(int argc, char** argv, const std::string& device, std::time_t now) {
    std::string command;
    for (int i = 0; i < argc; ++i) command += (i ? " " : "") + ShellQuoted(argv[i]);
    std::tm local;
    localtime_r(&now, &local);
    char started[64];
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S %z (%Z)", &local);
    return {VersionText(), "command line: " + command, std::string("started: ") + started,
            device.empty() ? "device: not named; told once chosen" : "device: " + device};
}

std::string BusyText() {
    const std::string folder = OsUnusableNamedObjectFolder();
    return folder.empty() ? Text(TXT_BUSY) : Text(TXT_LOCK_FOLDER_SHARED, {folder});
}

std::string InUseText(const std::string& device) {
    bool mounted = false;
    struct stat drive;
    if (::stat(device.c_str(), &drive) == 0 && S_ISBLK(drive.st_mode)) {
        std::ifstream mounts("/proc/self/mounts");
        std::string source, rest;
        while (!mounted && mounts >> source && std::getline(mounts, rest)) {
            struct stat st;
            mounted = ::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == drive.st_rdev;
        }
    }
    return Text(mounted ? TXT_IN_USE_MOUNTED : TXT_IN_USE_OPENED, {device});
}
