// Run-time loading of a system library and its entry points (the ASPI manager).
#pragma once
#include "os/types.h"

class LibraryPort {
public:
    virtual ~LibraryPort() = default;
    // Loads `name` from the system directory only, never from the current or the
    // program's directory. nullptr when absent (always on Linux).
    virtual OsHandle LoadSystemLibrary(const char* name) = 0;
    virtual void* GetProcAddress(OsHandle module, const char* name) = 0;
};

LibraryPort& OsLibraries();
void OsSetLibraries(LibraryPort* port);
