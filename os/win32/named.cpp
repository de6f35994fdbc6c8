// Named kernel objects of the session: the updater mutex and the instance mapping.
#include "os/named.h"
#include "os/win32/win32_api.h"

#include <cstring>

namespace {
constexpr DWORD kMutexAllAccess = 0x1F0001;
}  // namespace

bool OsNamedMutexExists(const char* name) {
    HANDLE h = OpenMutexA(kMutexAllAccess, FALSE, name);
    if (h) {
        CloseHandle(h);
        return true;
    }
    // A holder we may not open (another user, a higher integrity level) still holds it.
    return GetLastError() == ERROR_ACCESS_DENIED;
}

OsHandle OsCreateNamedMutex(const char* name) {
    HANDLE h = CreateMutexA(nullptr, TRUE, name);
    if (h && GetLastError() == ERROR_ALREADY_EXISTS) {
        // Created by someone else since the existence check: we got a handle to
        // their mutex without owning it.
        CloseHandle(h);
        return nullptr;
    }
    return h;  // kept until the process ends
}

OsHandle OsCreateSharedSection(const char* name, uint32_t size, bool* alreadyExisted) {
    SetLastError(NO_ERROR);
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    const DWORD error = GetLastError();
    if (alreadyExisted) *alreadyExisted = h && error == ERROR_ALREADY_EXISTS;
    return h;
}

bool OsReadSharedValue(OsHandle section, uint32_t* value) {
    if (!section || !value) return false;
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    if (!view) return false;
    std::memcpy(value, view, sizeof *value);
    UnmapViewOfFile(view);
    return true;
}

bool OsPublishSharedValue(OsHandle section, uint32_t value) {
    if (!section) return false;
    void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) return false;
    std::memcpy(view, &value, sizeof value);
    FlushViewOfFile(view, sizeof value);
    UnmapViewOfFile(view);
    return true;
}

void OsCloseSharedSection(OsHandle section) {
    if (section) CloseHandle(section);
}

std::string OsUnusableNamedObjectFolder() { return std::string(); }
