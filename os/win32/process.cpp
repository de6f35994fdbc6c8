// The raw command line and the string table on Windows; the resource loader picks
// the language.
#include "os/process.h"
#include "os/win32/win32_api.h"

const char* OsGetCommandLine() { return GetCommandLineA(); }

void OsSetCommandLine(int, char**) {}

int OsLoadString(unsigned id, char* buffer, int size) {
    // A size of 0 would make LoadStringA hand back a pointer into the resource instead.
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    return LoadStringA(GetModuleHandleA(nullptr), id, buffer, size);
}

int OsResourceLanguage() { return 0; }

void OsSetResourceLanguage(int) {}
