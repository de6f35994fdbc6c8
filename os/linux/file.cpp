// Image file and current directory on Linux.
#include "os/file.h"
#include "os/linux/linux_internal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const char kOsPathSeparator = '/';

OsHandle OsOpenImageFile(const char* path) {
    if (!path) return nullptr;
    // Non-blocking, so that a FIFO in the file's place cannot hold the open until
    // some writer comes along; it is refused below like any other non-file.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st;
    // Like CreateFileA without backup semantics, a directory is not a file to read;
    // the lock stands in for share mode 0: a second opener is refused.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    return HandleFromFd(fd);
}

namespace {

// Writes all of `size` bytes at the file position.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

OsHandle OsOpenImageForUpdate(const char* path, uint32_t length) {
    OsHandle file = OsOpenImageFile(path);
    if (file == nullptr) return nullptr;
    // Anonymous memory that no other process can open by a name; once sealed,
    // nobody (this process included) can write, grow or shrink it, or lift the seals.
    const int copy = ::memfd_create("quillmor-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    bool copied = copy >= 0;
    std::vector<char> chunk(64 * 1024);
    for (uint32_t left = length; copied && left > 0;) {
        uint32_t got = 0;
        const uint32_t want = left < chunk.size() ? left : static_cast<uint32_t>(chunk.size());
        copied = OsReadFile(file, chunk.data(), want, &got) && WriteAll(copy, chunk.data(), got);
        if (got < want) break;  // the file ends here
        left -= got;
    }
    OsCloseFile(file);
    if (copied) {
        // F_SEAL_WRITE waits for the kernel's own transient references to the pages
        // and gives up with EBUSY on a busy machine; F_SEAL_FUTURE_WRITE keeps every
        // write() and every writable mapping out just the same, since none was ever
        // made. A kernel older than 5.1 knows only the first.
        const int kept = F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL;
        copied = ::fcntl(copy, F_ADD_SEALS, F_SEAL_FUTURE_WRITE | kept) == 0 ||
                 (errno == EINVAL && ::fcntl(copy, F_ADD_SEALS, F_SEAL_WRITE | kept) == 0);
        copied = copied && ::lseek(copy, 0, SEEK_SET) == 0;
    }
    if (!copied) {
        if (copy >= 0) ::close(copy);
        return nullptr;
    }
    return HandleFromFd(copy);
}

bool OsSeekFile(OsHandle file, uint32_t offset) {
    if (!file) return false;
    return ::lseek(FdFromHandle(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool OsReadFile(OsHandle file, void* buffer, uint32_t size, uint32_t* got) {
    if (got) *got = 0;
    if (!file || !got || (size > 0 && !buffer)) return false;
    // ReadFile on a disk file returns short only at the end of the file.
    uint32_t total = 0;
    while (total < size) {
        const ssize_t n = ::read(FdFromHandle(file), static_cast<char*>(buffer) + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            *got = total;
            return false;
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    *got = total;
    return true;
}

void OsCloseFile(OsHandle file) {
    if (file) ::close(FdFromHandle(file));
}

uint32_t OsGetCurrentDirectory(uint32_t size, char* buffer) {
    std::string dir(256, '\0');
    while (::getcwd(&dir[0], dir.size()) == nullptr) {
        if (errno != ERANGE || dir.size() > (1u << 20)) return 0;
        dir.resize(dir.size() * 2);
    }
    const uint32_t length = static_cast<uint32_t>(std::strlen(dir.c_str()));
    if (!buffer || size <= length) return length + 1;  // the room needed, NUL included
    std::memcpy(buffer, dir.c_str(), length + 1);
    return length;
}
