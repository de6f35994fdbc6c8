// Named mutex and shared section, in a private runtime directory. Two opens in one
// process stand for two processes: the locks belong to each open, not to the process.
#include "os/linux/linux_internal.h"
#include "os/named.h"
#include "testing/missing.h"
#include "testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class NamedObjects : public testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        scratch_ = ScratchDir("qm-named");
        ASSERT_TRUE(scratch_.Made()) << std::strerror(errno);
        dir_ = scratch_.Path();
        ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_)
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_TRUE(scratch_.Remove()) << dir_;
    }
    // A file left behind by a holder that has ended: present, unlocked, stale content.
    void LeaveStaleFile(const std::string& path, const std::string& content) {
        ASSERT_TRUE(::mkdir(NamedObjectDirectory().c_str(), 0700) == 0 || errno == EEXIST);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(fd);
    }

    ScratchDir scratch_;
    std::string dir_;
    std::string old_;
    bool hadOld_ = false;
};

// The instance mapping's real name: "トーベル" in Shift-JIS, then "CBC1".
const char kInstanceName[] = "\x83\x67\x81\x5B\x83\x78\x83\x8B" "CBC1";

TEST_F(NamedObjects, MutexIsTakenOnceAndSeenByOthers) {
    const char* name = "VARN_UPDATER_BY_TORVELL";
    EXPECT_FALSE(OsNamedMutexExists(name));
    EXPECT_NE(OsCreateNamedMutex(name), nullptr);
    EXPECT_TRUE(OsNamedMutexExists(name));
    // A creator that lost the race to another holder must not think it owns it.
    EXPECT_EQ(OsCreateNamedMutex(name), nullptr);
    EXPECT_TRUE(OsNamedMutexExists(name));
}

TEST_F(NamedObjects, MutexFileOfAnEndedProcessIsNotAMutex) {
    const char* name = "stale mutex";
    LeaveStaleFile(NamedObjectPath(name, "mutex"), "");
    EXPECT_FALSE(OsNamedMutexExists(name));
    EXPECT_NE(OsCreateNamedMutex(name), nullptr);
    EXPECT_TRUE(OsNamedMutexExists(name));
}

TEST_F(NamedObjects, SectionIsSharedWhileAHolderLives) {
    bool existed = true;
    OsHandle first = OsCreateSharedSection(kInstanceName, 10, &existed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(existed);
    uint32_t value = 1;
    ASSERT_TRUE(OsReadSharedValue(first, &value));
    EXPECT_EQ(value, 0u);  // nothing published yet

    OsHandle second = OsCreateSharedSection(kInstanceName, 10, &existed);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(existed);
    ASSERT_TRUE(OsPublishSharedValue(first, 0x00C0FFEEu));
    ASSERT_TRUE(OsReadSharedValue(second, &value));
    EXPECT_EQ(value, 0x00C0FFEEu);

    // The first holder lives on after the second leaves.
    OsCloseSharedSection(second);
    OsHandle third = OsCreateSharedSection(kInstanceName, 10, &existed);
    EXPECT_TRUE(existed);
    OsCloseSharedSection(third);
    OsCloseSharedSection(first);

    // Everyone has left: the next start creates it afresh, zero-filled.
    OsHandle fresh = OsCreateSharedSection(kInstanceName, 10, &existed);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(existed);
    ASSERT_TRUE(OsReadSharedValue(fresh, &value));
    EXPECT_EQ(value, 0u);
    OsCloseSharedSection(fresh);
}

TEST_F(NamedObjects, SectionLeftByAnEndedProcessIsRecreatedZeroFilled) {
    // A window handle from a dead instance, and a size that no longer fits.
    LeaveStaleFile(NamedObjectPath(kInstanceName, "section"), std::string("\xEF\xBE\xAD\xDE", 4));
    bool existed = true;
    OsHandle section = OsCreateSharedSection(kInstanceName, 10, &existed);
    ASSERT_NE(section, nullptr);
    EXPECT_FALSE(existed);
    uint32_t value = 1;
    ASSERT_TRUE(OsReadSharedValue(section, &value));
    EXPECT_EQ(value, 0u);
    OsCloseSharedSection(section);
}

TEST_F(NamedObjects, NamesBecomeSafeFileNames) {
    struct Case {
        const char* name;
        const char* encoded;
    } cases[] = {
        {"VARN_UPDATER", "VARN%5FUPDATER"},
        {"../../etc/passwd", "%2E%2E%2F%2E%2E%2Fetc%2Fpasswd"},
        {kInstanceName, "%83g%81%5B%83x%83%8BCBC1"},
        {"a b%", "a%20b%25"},
    };
    for (const Case& c : cases) EXPECT_EQ(EncodeObjectName(c.name), c.encoded);

    const std::string path = NamedObjectPath("../x", "mutex");
    const std::string privateDir = dir_ + "/quillmor-" + std::to_string(::geteuid()) + "/";
    EXPECT_EQ(path.rfind(privateDir, 0), 0u) << path;
    EXPECT_EQ(path.find('/', privateDir.size()), std::string::npos) << path;
    EXPECT_EQ(NamedObjectPath("", "mutex"), "");
    EXPECT_EQ(NamedObjectPath(std::string(300, 'a').c_str(), "mutex"), "");
    EXPECT_EQ(OsCreateNamedMutex(""), nullptr);
}

// Without a runtime directory, root's objects never go to the shared /tmp, where
// any user could make root's folder first; everyone else's go there, in a folder
// of their own.
TEST_F(NamedObjects, WithoutARuntimeDirectoryRootKeepsOutOfTmp) {
    ::unsetenv("XDG_RUNTIME_DIR");
    const uid_t user = ::geteuid();
    EXPECT_EQ(NamedObjectDirectory(), user == 0 ? "/run/quillmor" : "/tmp/quillmor-" + std::to_string(user));
    ::setenv("XDG_RUNTIME_DIR", (dir_ + "/absent").c_str(), 1);  // names no directory
    EXPECT_EQ(NamedObjectDirectory(), user == 0 ? "/run/quillmor" : "/tmp/quillmor-" + std::to_string(user));
}

TEST_F(NamedObjects, PlantedLinkIsNotFollowed) {
    // Someone who can write to the runtime directory points the name elsewhere.
    const std::string target = dir_ + "/victim";
    LeaveStaleFile(target, "keep");
    ASSERT_EQ(::symlink(target.c_str(), NamedObjectPath(kInstanceName, "section").c_str()), 0);
    bool existed = false;
    EXPECT_EQ(OsCreateSharedSection(kInstanceName, 10, &existed), nullptr);
    ASSERT_EQ(::symlink(target.c_str(), NamedObjectPath("m", "mutex").c_str()), 0);
    EXPECT_TRUE(OsNamedMutexExists("m"));  // refuses to run rather than trust it
    EXPECT_EQ(OsCreateNamedMutex("m"), nullptr);

    char content[8] = {};
    const int fd = ::open(target.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::read(fd, content, sizeof content), 4);
    ::close(fd);
    EXPECT_STREQ(content, "keep");
}

// --- A directory that other users share ----------------------------------------------

// The runtime directory is a sticky, world-writable one, as /tmp is, and another
// user (nobody) has been there before root's run.
class SharedDirectory : public testing::Test {
public:
    static constexpr uid_t kOtherUser = 65534;

    void SetUp() override {
        if (::geteuid() != 0) QM_MISSING("root") << "acting as a second user needs it";
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        scratch_ = ScratchDir("qm-shared");
        ASSERT_TRUE(scratch_.Made()) << std::strerror(errno);
        dir_ = scratch_.Path();
        ASSERT_EQ(::chmod(dir_.c_str(), 01777), 0);
        ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        // Root's file that the other user may write (and so may link to).
        victim_ = dir_ + "/victim";
        const int fd = ::open(victim_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fchmod(fd, 0666), 0);
        ASSERT_EQ(::write(fd, kVictimText, sizeof kVictimText - 1), static_cast<ssize_t>(sizeof kVictimText - 1));
        ::close(fd);
    }
    void TearDown() override {
        if (dir_.empty()) return;
        if (hadOld_)
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_TRUE(scratch_.Remove()) << dir_;
    }

    // Runs `plant` as the other user in a child process; true when it succeeded.
    static bool AsOtherUser(const std::function<bool()>& plant) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kOtherUser) == 0 && ::setuid(kOtherUser) == 0;
            ::_exit(dropped && plant() ? 0 : 1);
        }
        int status = 0;
        return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string Content(const std::string& path) {
        std::string text;
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) return "<absent>";
        char buffer[64];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        return text;
    }

    // Where root's objects would be: the directory, and a file in the old flat layout.
    std::string PrivateDir() const { return dir_ + "/quillmor-0"; }
    std::string FlatFile(const char* name, const char* kind) const {
        return dir_ + "/quillmor-0-" + EncodeObjectName(name) + "." + kind;
    }

    static constexpr char kVictimText[] = "root's own data";
    ScratchDir scratch_;
    std::string dir_;
    std::string victim_;
    std::string old_;
    bool hadOld_ = false;
};

constexpr char SharedDirectory::kVictimText[];

const char kMutexName[] = "VARN_UPDATER_BY_TORVELL";

std::string FileName(const char* name, const char* kind) { return EncodeObjectName(name) + "." + kind; }

struct Planted {
    const char* name;
    void (*plant)(SharedDirectory& t);
    bool sectionWorks;
    bool mutexWorks;
};
void PrintTo(const Planted& c, std::ostream* os) { *os << c.name; }

class SharedDirectoryPlanted : public SharedDirectory, public testing::WithParamInterface<Planted> {};

const Planted kPlanted[] = {
    // Hard links to root's file under the names of a flat layout in the shared directory.
    {"HardLinksInTheSharedDirectory",
     [](SharedDirectory& t) {
         ASSERT_TRUE(t.AsOtherUser([&t] {
             return ::link(t.victim_.c_str(), t.FlatFile(kInstanceName, "section").c_str()) == 0 &&
                    ::link(t.victim_.c_str(), t.FlatFile(kMutexName, "mutex").c_str()) == 0;
         }));
     },
     true, true},
    // The other user's own directory in the place of root's, holding those links.
    {"DirectoryOfTheOtherUser",
     [](SharedDirectory& t) {
         ASSERT_TRUE(t.AsOtherUser([&t] {
             const std::string d = t.PrivateDir();
             return ::mkdir(d.c_str(), 0777) == 0 && ::chmod(d.c_str(), 0777) == 0 &&
                    ::link(t.victim_.c_str(), (d + "/" + FileName(kInstanceName, "section")).c_str()) == 0 &&
                    ::link(t.victim_.c_str(), (d + "/" + FileName(kMutexName, "mutex")).c_str()) == 0;
         }));
     },
     false, false},
    // A symbolic link in its place, to a directory of root's.
    {"LinkToRootsDirectory",
     [](SharedDirectory& t) {
         const std::string roots = t.PrivateDir() + ".roots";
         ASSERT_EQ(::mkdir(roots.c_str(), 0700), 0);
         ASSERT_TRUE(t.AsOtherUser([&t, &roots] { return ::symlink(roots.c_str(), t.PrivateDir().c_str()) == 0; }));
     },
     false, false},
    // Root's own directory, but open to everyone.
    {"OwnDirectoryOpenToOthers",
     [](SharedDirectory& t) {
         ASSERT_EQ(::mkdir(t.PrivateDir().c_str(), 0700), 0);
         ASSERT_EQ(::chmod(t.PrivateDir().c_str(), 0777), 0);
     },
     false, false},
    // A second name of root's file inside root's own directory.
    {"SectionFileWithASecondName",
     [](SharedDirectory& t) {
         ASSERT_EQ(::mkdir(t.PrivateDir().c_str(), 0700), 0);
         const std::string section = t.PrivateDir() + "/" + FileName(kInstanceName, "section");
         ASSERT_EQ(::link(t.victim_.c_str(), section.c_str()), 0);
     },
     false, true},
};

TEST_P(SharedDirectoryPlanted, RootsObjectsNeverTouchAFileTheyDidNotMake) {
    const Planted& c = GetParam();
    c.plant(*this);

    bool existed = true;
    OsHandle section = OsCreateSharedSection(kInstanceName, 10, &existed);
    EXPECT_EQ(section != nullptr, c.sectionWorks);
    if (section) {
        EXPECT_FALSE(existed);
        EXPECT_TRUE(OsPublishSharedValue(section, 0x00C0FFEEu));
        OsCloseSharedSection(section);
    }
    EXPECT_EQ(OsNamedMutexExists(kMutexName), !c.mutexWorks);  // refused counts as taken
    OsHandle mutex = OsCreateNamedMutex(kMutexName);
    EXPECT_EQ(mutex != nullptr, c.mutexWorks);
    if (mutex) ::close(FdFromHandle(mutex));

    EXPECT_EQ(Content(victim_), kVictimText);
    struct stat st;
    ASSERT_EQ(::stat(victim_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    // Nothing was made inside a directory that a link pointed to.
    EXPECT_EQ(Content(PrivateDir() + ".roots/" + FileName(kInstanceName, "section")), "<absent>");
}

INSTANTIATE_TEST_SUITE_P(Table, SharedDirectoryPlanted, testing::ValuesIn(kPlanted),
                         [](const testing::TestParamInfo<Planted>& info) { return std::string(info.param.name); });

}  // namespace
