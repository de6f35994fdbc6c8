// Named objects shared between processes of the session: the updater mutex and
// the instance mapping. Linux keeps them as files in a directory of the user's own
// ($XDG_RUNTIME_DIR/quillmor-<uid>; without a runtime directory /run/quillmor for
// root, /tmp/quillmor-<uid> for everyone else), held with advisory locks; a file
// whose holder has ended counts as absent, and a stale section is zero-filled
// again. A directory or file that is not the user's alone is refused: the mutex
// then counts as taken, and the section cannot be created.
#pragma once
#include "os/types.h"
#include <cstdint>
#include <string>

// The folder of the named objects when it cannot be used (it is not the user's
// alone: another user's, open to others, a link; or it cannot be made), for a
// message that says why the mutex counts as taken; "" when it serves. Windows has
// no such folder: always "".
std::string OsUnusableNamedObjectFolder();

// OpenMutexA(MUTEX_ALL_ACCESS): true when a mutex of that name exists (the handle
// that proved it is closed again).
bool OsNamedMutexExists(const char* name);
// CreateMutexA, initially owned; the handle is kept until the process ends.
// nullptr also when the mutex turned out to exist already (another updater took it
// between the existence check and this call): its handle would not be ours to own.
OsHandle OsCreateNamedMutex(const char* name);

// CreateFileMappingA over the paging file, PAGE_READWRITE, `size` bytes.
// *alreadyExisted reports ERROR_ALREADY_EXISTS. nullptr on failure.
OsHandle OsCreateSharedSection(const char* name, uint32_t size, bool* alreadyExisted);
// Maps a read-only view, reads the 32-bit value at offset 0, unmaps.
bool OsReadSharedValue(OsHandle section, uint32_t* value);
// Maps a FILE_MAP_ALL_ACCESS view, stores the value at offset 0, flushes those 4
// bytes, unmaps. false when the view cannot be mapped.
bool OsPublishSharedValue(OsHandle section, uint32_t value);
void OsCloseSharedSection(OsHandle section);
