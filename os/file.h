// Image file and current directory.
#pragma once
#include "os/types.h"

// The separator LocateImage puts between the directory and the file name.
extern const char kOsPathSeparator;

// Opens an existing file for reading with no sharing (Windows: share mode 0;
// Linux: an advisory exclusive lock that another holder makes fail). nullptr on failure.
OsHandle OsOpenImageFile(const char* path);
// Opens the image for an update, so that the bytes read from the handle (validated,
// then sent) stay the same until it is closed, whatever another process does to the
// file. Windows: as OsOpenImageFile, whose share mode 0 keeps every writer out for
// as long as the handle is open, and nothing is copied. Linux, where a lock keeps
// nobody from writing: a private copy of the first `length` bytes (fewer when the
// file is shorter), taken through OsOpenImageFile's handle, which is closed again,
// and sealed against every change before anything reads it. nullptr on failure.
OsHandle OsOpenImageForUpdate(const char* path, uint32_t length);
// Positions the file pointer `offset` bytes from the start.
bool OsSeekFile(OsHandle file, uint32_t offset);
// Reads up to `size` bytes; *got receives the count actually read.
bool OsReadFile(OsHandle file, void* buffer, uint32_t size, uint32_t* got);
void OsCloseFile(OsHandle file);

// Like GetCurrentDirectoryA: writes the NUL-terminated directory into `buffer`
// and returns its length, 0 on failure, or the size needed when it does not fit.
uint32_t OsGetCurrentDirectory(uint32_t size, char* buffer);
