// Image file and current directory on Windows.
#include "os/file.h"
#include "os/win32/win32_api.h"

const char kOsPathSeparator = '\\';

OsHandle OsOpenImageFile(const char* path) {
    if (!path) return nullptr;
    HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

OsHandle OsOpenImageForUpdate(const char* path, uint32_t) { return OsOpenImageFile(path); }

bool OsSeekFile(OsHandle file, uint32_t offset) {
    if (!file) return false;
    // With the high part given, the 32-bit offset is read as unsigned: offsets past
    // 2 GiB do not turn into a negative move.
    LONG high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    return low == offset && high == 0;
}

bool OsReadFile(OsHandle file, void* buffer, uint32_t size, uint32_t* got) {
    if (got) *got = 0;
    if (!file || !got || (size > 0 && !buffer)) return false;
    DWORD read = 0;
    const BOOL ok = ReadFile(file, buffer, size, &read, nullptr);
    *got = read;
    return ok != FALSE;
}

void OsCloseFile(OsHandle file) {
    if (file) CloseHandle(file);
}

uint32_t OsGetCurrentDirectory(uint32_t size, char* buffer) {
    if (!buffer) size = 0;
    return GetCurrentDirectoryA(size, buffer);
}
