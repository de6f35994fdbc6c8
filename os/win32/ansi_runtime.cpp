// Unicode entry points that the GCC and mingw-w64 runtimes call, answered here
// through their ANSI twins. Windows 95/98 export CreateSemaphoreW, GetModuleHandleW
// and LoadLibraryW only as stubs that fail, which would leave the runtime's mutexes
// (libgcc's thread layer, under contention) without their semaphore. The 32-bit
// program defines the import slots the runtime calls through itself, so its import
// table names none of these functions (tools/check-win98-imports.sh checks that).
#include "os/win32/win32_api.h"

namespace {

// The name in the ANSI code page; false when it does not convert.
bool ToAnsi(LPCWSTR wide, char* ansi, int size) {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, size, nullptr, nullptr) > 0;
}

HANDLE WINAPI CreateSemaphoreAnsi(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    char ansi[MAX_PATH];
    if (name && !ToAnsi(name, ansi, sizeof ansi)) return nullptr;
    return CreateSemaphoreA(attributes, initial, maximum, name ? ansi : nullptr);
}

HMODULE WINAPI GetModuleHandleAnsi(LPCWSTR name) {
    char ansi[MAX_PATH];
    if (name && !ToAnsi(name, ansi, sizeof ansi)) return nullptr;
    return GetModuleHandleA(name ? ansi : nullptr);
}

HMODULE WINAPI LoadLibraryAnsi(LPCWSTR name) {
    char ansi[MAX_PATH];
    if (!name || !ToAnsi(name, ansi, sizeof ansi)) return nullptr;
    return LoadLibraryA(ansi);
}

}  // namespace

// The slots, under the names the runtime's dllimport calls use (i686 decoration).
extern "C" {
HANDLE(WINAPI* qm_CreateSemaphoreW)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR)
    __asm__("__imp__CreateSemaphoreW@16") = CreateSemaphoreAnsi;
HMODULE(WINAPI* qm_GetModuleHandleW)(LPCWSTR) __asm__("__imp__GetModuleHandleW@4") = GetModuleHandleAnsi;
HMODULE(WINAPI* qm_LoadLibraryW)(LPCWSTR) __asm__("__imp__LoadLibraryW@4") = LoadLibraryAnsi;
}
