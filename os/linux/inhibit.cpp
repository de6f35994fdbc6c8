// Sleep, shutdown and idle held off on Linux through systemd-logind: Inhibit over
// the system bus answers with a descriptor, and that descriptor is the lock, held
// until it is closed (or the process ends).
#include "os/inhibit.h"
#include "os/linux/text.h"

#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

constexpr char kWhat[] = "sleep:shutdown:idle";
constexpr char kWho[] = "quillmor";
constexpr char kMode[] = "block";  // not merely delayed: held off until released

// What the bus said, on one line whatever it sent.
std::string OneLine(const char* text) {
    std::string line = text ? text : "";
    for (char& ch : line)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
    return line;
}

// The lock's descriptor (3 or above, closed on exec), or -1 with the reason in
// `problem`.
int TakeLock(const char* why, std::string* problem) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        *problem = Text(TXT_NO_SYSTEM_BUS, {std::strerror(-r)});
        return -1;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int lock = -1;
    r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss", kWhat, kWho,
                           why, kMode);
    if (r < 0) {
        if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
            *problem = Text(TXT_NO_LOGIND);
        } else if (sd_bus_error_is_set(&error)) {
            *problem = Text(TXT_LOGIND_REFUSED, {OneLine(error.message ? error.message : error.name)});
        } else {
            *problem = Text(TXT_SYSTEM_BUS_FAILED, {std::strerror(-r)});
        }
    } else {
        int sent = -1;
        // The descriptor belongs to the reply and goes with it: ours is a copy.
        if (sd_bus_message_read(reply, "h", &sent) >= 0) lock = ::fcntl(sent, F_DUPFD_CLOEXEC, 3);
        if (lock < 0) *problem = Text(TXT_NO_LOCK);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return lock;
}

class LogindInhibit : public InhibitPort {
public:
    void Hold() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_lock >= 0) return;
        std::string problem;
        m_lock = TakeLock(Text(TXT_INHIBIT_WHY).c_str(), &problem);
        if (m_lock >= 0) return;
        std::fprintf(stderr, "%s\n", Text(TXT_NOT_HELD_OFF, {problem}).c_str());
        std::fflush(stderr);
    }

    void Release() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_lock < 0) return;
        ::close(m_lock);
        m_lock = -1;
    }

private:
    std::mutex m_mutex;
    int m_lock = -1;
};

LogindInhibit g_systemInhibit;

}  // namespace

InhibitPort& OsSystemInhibit() { return g_systemInhibit; }
