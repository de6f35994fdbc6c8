// Loads a library from the system directory by its full path: a bare name would be
// searched for in the program's and the current directory first, where anyone can
// drop a file of that name.
#include "os/system_ports.h"
#include "os/win32/win32_api.h"

#include <cstring>

namespace {
class Win32Libraries : public LibraryPort {
public:
    OsHandle LoadSystemLibrary(const char* name) override {
        if (!name || !*name || std::strpbrk(name, "\\/:") != nullptr) return nullptr;
        char path[MAX_PATH];
        const UINT length = GetSystemDirectoryA(path, sizeof path);
        const size_t nameLength = std::strlen(name);
        // "\" + name + ".dll" + NUL must fit behind the directory.
        if (length == 0 || length >= sizeof path || nameLength > sizeof path - length - 6) return nullptr;
        std::strcpy(path + length, "\\");
        std::strcpy(path + length + 1, name);
        std::strcpy(path + length + 1 + nameLength, ".dll");
        return LoadLibraryA(path);
    }

    void* GetProcAddress(OsHandle module, const char* name) override {
        if (!module || !name) return nullptr;
        return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
    }
};

// Built before any thread starts: no first-use guard for two threads to race on.
Win32Libraries g_systemLibraries;
}  // namespace

LibraryPort& SystemLibraries() { return g_systemLibraries; }
