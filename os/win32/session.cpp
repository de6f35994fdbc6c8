// Screen saver, shutdown privilege and restart on Windows.
#include "os/system_ports.h"
#include "os/win32/win32_api.h"

namespace {
class Win32Session : public SessionPort {
public:
    bool GetScreenSaverActive(int* active) override {
        BOOL value = FALSE;
        if (!active || !SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &value, SPIF_UPDATEINIFILE)) return false;
        *active = value;
        return true;
    }

    void SetScreenSaverActive(bool active) override {
        SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active ? TRUE : FALSE, nullptr, SPIF_SENDWININICHANGE);
    }

    void EnableShutdownPrivilege() override {
        // Windows 95/98 have no privileges: these calls fail there, harmlessly.
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
        TOKEN_PRIVILEGES privileges;
        ZeroMemory(&privileges, sizeof privileges);
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
        CloseHandle(token);
    }

    void ForceRestart() override { ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0); }
};

// Built before any thread starts: no first-use guard for two threads to race on.
Win32Session g_systemSession;
}  // namespace

SessionPort& SystemSession() { return g_systemSession; }
