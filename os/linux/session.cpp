// The user's session on Linux: no screen saver to switch, and no reboot behind the
// user's back: the dialogs tell them to restart.
#include "os/system_ports.h"

namespace {
class LinuxSession : public SessionPort {
public:
    bool GetScreenSaverActive(int* active) override {
        if (active) *active = 0;
        return active != nullptr;
    }
    void SetScreenSaverActive(bool) override {}
    void EnableShutdownPrivilege() override {}
    void ForceRestart() override {}
};
}  // namespace

SessionPort& SystemSession() {
    static LinuxSession session;
    return session;
}
