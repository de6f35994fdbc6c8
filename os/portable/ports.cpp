// Which implementation of each replaceable service is in force.
#include "os/inhibit.h"
#include "os/system_ports.h"

#include <atomic>

namespace {
// Replaced only while no worker runs (test set-up), read from any thread.
std::atomic<DevicePort*> g_devicePort{nullptr};
std::atomic<TimePort*> g_timePort{nullptr};
std::atomic<PlatformPort*> g_platformPort{nullptr};
std::atomic<LibraryPort*> g_libraryPort{nullptr};
std::atomic<SessionPort*> g_sessionPort{nullptr};
std::atomic<InhibitPort*> g_inhibitPort{nullptr};

class NoInhibit : public InhibitPort {
public:
    void Hold() override {}
    void Release() override {}
} g_noInhibit;

template <typename Port>
Port& Current(std::atomic<Port*>& slot, Port& (*system)()) {
    Port* port = slot.load(std::memory_order_acquire);
    return port ? *port : system();
}
}  // namespace

DevicePort& OsDevices() { return Current(g_devicePort, &SystemDevices); }
void OsSetDevices(DevicePort* port) { g_devicePort.store(port, std::memory_order_release); }
TimePort& OsTime() { return Current(g_timePort, &SystemTime); }
void OsSetTime(TimePort* port) { g_timePort.store(port, std::memory_order_release); }
PlatformPort& OsPlatform() { return Current(g_platformPort, &SystemPlatform); }
void OsSetPlatform(PlatformPort* port) { g_platformPort.store(port, std::memory_order_release); }
LibraryPort& OsLibraries() { return Current(g_libraryPort, &SystemLibraries); }
void OsSetLibraries(LibraryPort* port) { g_libraryPort.store(port, std::memory_order_release); }
SessionPort& OsSession() { return Current(g_sessionPort, &SystemSession); }
void OsSetSession(SessionPort* port) { g_sessionPort.store(port, std::memory_order_release); }

InhibitPort& OsInhibit() {
    InhibitPort* port = g_inhibitPort.load(std::memory_order_acquire);
    return port ? *port : g_noInhibit;
}
void OsSetInhibit(InhibitPort* port) { g_inhibitPort.store(port, std::memory_order_release); }
