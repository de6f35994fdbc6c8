// There is no ASPI manager on Linux: nothing is ever loaded.
#include "os/system_ports.h"

namespace {
class LinuxLibraries : public LibraryPort {
public:
    OsHandle LoadSystemLibrary(const char*) override { return nullptr; }
    void* GetProcAddress(OsHandle, const char*) override { return nullptr; }
};
}  // namespace

LibraryPort& SystemLibraries() {
    static LinuxLibraries libraries;
    return libraries;
}
