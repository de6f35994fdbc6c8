// Facts about the running system on Linux, which takes the NT family's road (SPTI).
#include "os/linux/linux_internal.h"
#include "os/system_ports.h"

#include <cstdlib>
#include <cstring>

bool LocaleIsJapanese(const char* categoryVariable) {
    // POSIX precedence: the first of these that is set and not empty decides.
    const char* names[] = {"LC_ALL", categoryVariable, "LANG"};
    for (const char* name : names) {
        if (!name) continue;
        const char* value = std::getenv(name);
        if (value && *value) return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}

namespace {
class LinuxPlatform : public PlatformPort {
public:
    int PlatformId() override { return OS_PLATFORM_WIN32_NT; }
    unsigned OemCodePage() override { return LocaleIsJapanese("LC_CTYPE") ? 932u : 437u; }
};
}  // namespace

PlatformPort& SystemPlatform() {
    static LinuxPlatform platform;
    return platform;
}
