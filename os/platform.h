// Facts about the running system that change what the program does.
#pragma once
#include <cstdint>

constexpr int OS_PLATFORM_WIN32_WINDOWS = 1;  // 95/98/Me: ASPI
constexpr int OS_PLATFORM_WIN32_NT = 2;       // NT family: SPTI (Linux counts as this)

class PlatformPort {
public:
    virtual ~PlatformPort() = default;
    // dwPlatformId of GetVersionExA (structure size 148); 0 when the call fails.
    virtual int PlatformId() = 0;
    // GetOEMCP().
    virtual unsigned OemCodePage() = 0;
};

PlatformPort& OsPlatform();
void OsSetPlatform(PlatformPort* port);
