// A private scratch folder (mode 0700) under $TMPDIR, or /tmp, named after a
// prefix of the caller's ("qm-engine-Xa81Qz"), removed with everything in it when
// the object goes. The removal walks the folder itself, without a shell (a quote in
// a path cannot break it) and without following links (a link inside that points
// elsewhere loses only itself). Only the process that made the folder removes it:
// a forked child that ends through exit() leaves its parent's folder alone.
// Headers only, without GoogleTest: the fuzz harness and the benchmark use it too.
#pragma once
#include <cerrno>
#include <cstdlib>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

// Removes `path` and, when it is a folder, everything in it, as `rm -rf` would but
// without following a link and without leaving its file system. Folders in it that
// their owner may not list or change are opened up first. True when nothing of it is
// left (or there was nothing).
inline bool RemoveTree(const std::string& path) {
    struct Walk {
        static bool& Reopened() {
            thread_local bool reopened = false;
            return reopened;
        }
        static int OpenUp(const char* name, const struct stat* st, int kind, struct FTW*) {
            if ((kind == FTW_D || kind == FTW_DNR) && (st->st_mode & S_IRWXU) != S_IRWXU &&
                ::chmod(name, (st->st_mode & 07777) | S_IRWXU) == 0 && kind == FTW_DNR)
                Reopened() = true;  // what it holds was not listed: walk again
            return 0;
        }
        static int Remove(const char* name, const struct stat*, int kind, struct FTW*) {
            if (kind == FTW_DP || kind == FTW_DNR)
                ::rmdir(name);
            else
                ::unlink(name);  // files and links (not followed)
            return 0;            // on to the rest: what stays is seen at the end
        }
    };
    const int flags = FTW_PHYS | FTW_MOUNT;
    // Each walk opens up one more level of folders that could not be listed.
    for (int walk = 0; walk < 64; ++walk) {
        Walk::Reopened() = false;
        ::nftw(path.c_str(), &Walk::OpenUp, 16, flags);
        if (!Walk::Reopened()) break;
    }
    ::nftw(path.c_str(), &Walk::Remove, 16, flags | FTW_DEPTH);
    struct stat st;
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

class ScratchDir {
public:
    ScratchDir() = default;  // holds no folder

    // Makes `<parent>/<prefix>-XXXXXX`. An empty parent means $TMPDIR when that is
    // an absolute path (a relative one would move with the current directory), else
    // /tmp. Made() says whether it worked (errno tells why not).
    explicit ScratchDir(const std::string& prefix, std::string parent = std::string()) {
        if (parent.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            parent = tmp && tmp[0] == '/' ? tmp : "/tmp";
        }
        std::string pattern = parent + "/" + prefix + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) return;
        m_path = name.data();
        m_owner = ::getpid();
        if (::chmod(m_path.c_str(), S_IRWXU) != 0) {  // whatever the umask took away
            const int error = errno;
            ::rmdir(m_path.c_str());
            m_path.clear();
            errno = error;
        }
    }

    ~ScratchDir() { Remove(); }

    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ScratchDir(ScratchDir&& other) noexcept
        : m_path(std::exchange(other.m_path, std::string())), m_owner(std::exchange(other.m_owner, 0)) {}
    ScratchDir& operator=(ScratchDir&& other) noexcept {
        if (this != &other) {
            Remove();
            m_path = std::exchange(other.m_path, std::string());
            m_owner = std::exchange(other.m_owner, 0);
        }
        return *this;
    }

    bool Made() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }  // empty when none is held

    // Removes the folder now. True when nothing is left of it, when none was held,
    // or when another process made it (which it leaves); the object then holds none.
    // False: what is left stays held, for another try when the object goes.
    bool Remove() {
        if (m_path.empty() || m_owner != ::getpid()) {
            m_path.clear();
            return true;
        }
        const bool removed = RemoveTree(m_path);
        if (removed) m_path.clear();
        return removed;
    }

private:
    std::string m_path;
    pid_t m_owner = 0;
};
