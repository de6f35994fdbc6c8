// Facts about the running Windows.
#include "os/system_ports.h"
#include "os/win32/win32_api.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the structure size Windows 95 knows");

namespace {
class Win32Platform : public PlatformPort {
public:
    int PlatformId() override {
        OSVERSIONINFOA info;
        ZeroMemory(&info, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        if (!GetVersionExA(&info)) return 0;
        return static_cast<int>(info.dwPlatformId);
    }
    unsigned OemCodePage() override { return GetOEMCP(); }
};

// Built before any thread starts: no first-use guard for two threads to race on.
Win32Platform g_systemPlatform;
}  // namespace

PlatformPort& SystemPlatform() { return g_systemPlatform; }
