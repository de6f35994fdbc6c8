// Pieces of the Linux seams that are worth testing without a drive, a second
// process or a particular environment. Only os/linux and its tests use this.
#pragma once
#include "os/linux/device_path.h"
#include "os/sptd.h"

#include <cstdint>
#include <string>

struct sg_io_hdr;

// Fills `hdr` for SG_IO from the pass-through record in `buffer`. False when the
// record asks for something the system would refuse: an unknown direction, a CDB
// length outside 1..16, data without a buffer, or a sense area that does not lie
// wholly inside the buffer after the record.
bool SgRequestFromSptd(SptdBuffer* buffer, sg_io_hdr* hdr);
// Writes the outcome of a completed SG_IO back into the record (ScsiStatus, the
// bytes actually moved, the sense length returned). False when the host adapter or
// the driver reported a transport error rather than the drive answering.
bool SgResultToSptd(const sg_io_hdr& hdr, SptdBuffer* buffer);

// Whether `capability` (CAP_...) is in this thread's effective set.
bool HasEffectiveCapability(int capability);

// The directory of the named objects: "$XDG_RUNTIME_DIR/quillmor-<euid>" when that
// variable names a directory; else "/run/quillmor" for root and
// "/tmp/quillmor-<euid>" for everyone else.
std::string NamedObjectDirectory();
// The lock or backing file of a named object in that directory: "<name>.<kind>" with
// every byte of `name` other than [0-9A-Za-z] written as %XX. "" when the name is
// empty or too long for a file name.
std::string ObjectFileName(const char* name, const char* kind);
std::string NamedObjectPath(const char* name, const char* kind);
std::string EncodeObjectName(const char* name);

// Whether the locale in force for a category is Japanese: the first non-empty of
// LC_ALL, `categoryVariable` (e.g. "LC_MESSAGES") and LANG begins with "ja".
bool LocaleIsJapanese(const char* categoryVariable);

// Copies `text` into `buffer` of `size` bytes like LoadStringA: at most size-1
// bytes, always NUL-terminated, never cutting a UTF-8 character in two. Returns the
// bytes copied; 0 when there is no text or no room.
int CopyStringTruncated(const char* text, char* buffer, int size);

// OsHandle <-> file descriptor; nullptr stands for "none", so descriptor 0 is safe.
inline void* HandleFromFd(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }
inline int FdFromHandle(void* handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1); }
