// Image file and current directory.
#pragma once
#include "os/types.h"

// The separator LocateImage puts between the directory and the file name.
extern const char kOsPathSeparator;

// Opens an existing file for reading with no sharing (Windows: share mode 0;
// Linux: an advisory exclusive lock that another holder makes fail). nullptr on failure.
OsHandle OsOpenImageFile(const char* path);
// Positions the file pointer `offset` bytes from the start.
bool OsSeekFile(OsHandle file, uint32_t offset);
// Reads up to `size` bytes; *got receives the count actually read.
bool OsReadFile(OsHandle file, void* buffer, uint32_t size, uint32_t* got);
void OsCloseFile(OsHandle file);

// Like GetCurrentDirectoryA: writes the NUL-terminated directory into `buffer`
// and returns its length, 0 on failure, or the size needed when it does not fit.
uint32_t OsGetCurrentDirectory(uint32_t size, char* buffer);
