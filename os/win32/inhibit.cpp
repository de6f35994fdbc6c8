// Windows: nothing to take. The dialogs refuse suspend and the end of the session
// themselves, for as long as they live.
#include "os/inhibit.h"

namespace {
class Win32Inhibit : public InhibitPort {
public:
    void Hold() override {}
    void Release() override {}
};

Win32Inhibit g_systemInhibit;
}  // namespace

InhibitPort& OsSystemInhibit() { return g_systemInhibit; }
