// Named objects on Linux: files in a directory of the user's own, held with locks
// that the kernel drops when their holder ends, so a file left by a dead process
// never passes for a live object.
#include "os/named.h"
#include "os/linux/linux_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Room left for the suffix within NAME_MAX.
constexpr size_t kMaxEncodedName = 200;

// $XDG_RUNTIME_DIR when it names a directory; "" when it does not.
std::string RuntimeDirectory() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (dir && dir[0] == '/' && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    return "";
}

// The directory of the named objects, which may lie in the shared /tmp: made 0700
// when absent, and used only when it is ours alone (a directory and not a link to
// one, owned by us, closed to everyone else), since whoever can write to it could
// plant files in our names. A descriptor of it, or -1 with errno.
int OpenPrivateDirectory(bool create) {
    const std::string dir = NamedObjectDirectory();
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// Opens the object's file in the private directory, creating it when `create` is
// set; *created tells whether this call made it. Only a regular file of ours with no
// other name is taken: a link or a hard link planted in its place is refused. -1 with
// errno on failure.
int OpenObjectFile(const char* name, const char* kind, bool create, bool* created) {
    *created = false;
    const std::string file = ObjectFileName(name, kind);
    if (file.empty()) {
        errno = EINVAL;
        return -1;
    }
    const int dir = OpenPrivateDirectory(create);
    if (dir < 0) return -1;
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    int fd = create ? ::openat(dir, file.c_str(), flags | O_CREAT | O_EXCL, 0600) : -1;
    if (fd >= 0) {
        *created = true;
    } else if (!create || errno == EEXIST) {
        fd = ::openat(dir, file.c_str(), flags);
    }
    const int openError = errno;
    ::close(dir);
    if (fd < 0) {
        errno = openError;
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// A lock on the section file's first byte, owned by the open file (not the process),
// so two opens in one process conflict just as two processes do. Read locks mark
// live holders; the write lock is taken only by one who finds itself alone.
bool LockSection(int fd, short type, bool wait) {
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// Alone with the file: whatever a dead holder left is overwritten with zeros. Only
// a file this process has just created is sized by truncation; an older one is
// written over, never truncated.
bool ResetSection(int fd, uint32_t size, bool created) {
    bool zeroed = false;
    struct stat st;
    if (created) {
        zeroed = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    } else if (::fstat(fd, &st) == 0) {
        static const char kZeros[4096] = {};
        const off_t end = std::max<off_t>(st.st_size, static_cast<off_t>(size));
        zeroed = true;
        for (off_t at = 0; zeroed && at < end;) {
            const size_t chunk = static_cast<size_t>(std::min<off_t>(end - at, sizeof kZeros));
            const ssize_t n = ::pwrite(fd, kZeros, chunk, at);
            zeroed = n > 0;
            if (zeroed) at += n;
        }
    }
    return zeroed && LockSection(fd, F_RDLCK, false);  // atomic downgrade: never unlocked in between
}

// Maps the whole section; nullptr when it is too small to hold the value.
void* MapSection(int fd, int protection, size_t* length) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(uint32_t))) return nullptr;
    *length = static_cast<size_t>(st.st_size);
    void* view = ::mmap(nullptr, *length, protection, MAP_SHARED, fd, 0);
    return view == MAP_FAILED ? nullptr : view;
}
}  // namespace

std::string EncodeObjectName(const char* name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        const unsigned char c = *p;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string NamedObjectDirectory() {
    const uid_t user = ::geteuid();
    const std::string runtime = RuntimeDirectory();
    if (!runtime.empty()) return runtime + "/quillmor-" + std::to_string(user);
    // Root (sudo passes no runtime directory) never goes to the shared /tmp, where
    // any user could make root's folder first and so stop every root run.
    if (user == 0) return "/run/quillmor";
    return "/tmp/quillmor-" + std::to_string(user);
}

std::string OsUnusableNamedObjectFolder() {
    const int fd = OpenPrivateDirectory(true);
    if (fd >= 0) {
        ::close(fd);
        return "";
    }
    return NamedObjectDirectory();
}

std::string ObjectFileName(const char* name, const char* kind) {
    if (!name || !*name) return "";
    const std::string encoded = EncodeObjectName(name);
    if (encoded.size() > kMaxEncodedName) return "";
    return encoded + "." + kind;
}

std::string NamedObjectPath(const char* name, const char* kind) {
    const std::string file = ObjectFileName(name, kind);
    return file.empty() ? "" : NamedObjectDirectory() + "/" + file;
}

bool OsNamedMutexExists(const char* name) {
    bool created = false;
    const int fd = OpenObjectFile(name, "mutex", false, &created);
    if (fd < 0) {
        // A name we cannot even look at, a directory that is not ours alone, or a
        // file planted in our place, counts as taken: not running is the safe side.
        return errno != ENOENT;
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);  // also drops the lock if the test took it
    return held;
}

OsHandle OsCreateNamedMutex(const char* name) {
    bool created = false;
    const int fd = OpenObjectFile(name, "mutex", true, &created);
    if (fd < 0) return nullptr;
    // Someone took it since the existence check: it is theirs, not ours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return HandleFromFd(fd);  // held until the process ends
}

OsHandle OsCreateSharedSection(const char* name, uint32_t size, bool* alreadyExisted) {
    if (alreadyExisted) *alreadyExisted = false;
    if (size == 0) return nullptr;
    bool created = false;
    const int fd = OpenObjectFile(name, "section", true, &created);
    if (fd < 0) return nullptr;

    bool existed = false;
    if (LockSection(fd, F_WRLCK, false)) {
        if (!ResetSection(fd, size, created)) {
            ::close(fd);
            return nullptr;
        }
    } else {
        // Someone holds it. Wait for a creator still zero-filling it, then check
        // that they did not end meanwhile, leaving us alone with a stale file.
        if (!LockSection(fd, F_RDLCK, true)) {
            ::close(fd);
            return nullptr;
        }
        if (LockSection(fd, F_WRLCK, false)) {
            if (!ResetSection(fd, size, false)) {
                ::close(fd);
                return nullptr;
            }
        } else {
            existed = true;
        }
    }
    if (alreadyExisted) *alreadyExisted = existed;
    return HandleFromFd(fd);
}

bool OsReadSharedValue(OsHandle section, uint32_t* value) {
    if (!section || !value) return false;
    size_t length = 0;
    void* view = MapSection(FdFromHandle(section), PROT_READ, &length);
    if (!view) return false;
    std::memcpy(value, view, sizeof *value);
    ::munmap(view, length);
    return true;
}

bool OsPublishSharedValue(OsHandle section, uint32_t value) {
    if (!section) return false;
    size_t length = 0;
    void* view = MapSection(FdFromHandle(section), PROT_READ | PROT_WRITE, &length);
    if (!view) return false;
    std::memcpy(view, &value, sizeof value);
    ::msync(view, sizeof value, MS_SYNC);
    ::munmap(view, length);
    return true;
}

void OsCloseSharedSection(OsHandle section) {
    if (section) ::close(FdFromHandle(section));
}
