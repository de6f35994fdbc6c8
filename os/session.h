// The user's session: screen saver, shutdown privilege and restart.
#pragma once

class SessionPort {
public:
    virtual ~SessionPort() = default;
    // SPI_GETSCREENSAVEACTIVE; false when the state cannot be read.
    virtual bool GetScreenSaverActive(int* active) = 0;
    // SPI_SETSCREENSAVEACTIVE with SPIF_SENDWININICHANGE.
    virtual void SetScreenSaverActive(bool active) = 0;
    // OpenProcessToken + LookupPrivilegeValueA + AdjustTokenPrivileges("SeShutdownPrivilege").
    virtual void EnableShutdownPrivilege() = 0;
    // ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0). The Linux build never reboots: it
    // leaves the restart to the user.
    virtual void ForceRestart() = 0;
};

SessionPort& OsSession();
void OsSetSession(SessionPort* port);
