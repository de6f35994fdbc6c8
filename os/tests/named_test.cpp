// Named mutex and shared section, in a private runtime directory. Two opens in one
// process stand for two processes: the locks belong to each open, not to the process.
#include "os/linux/linux_internal.h"
#include "os/named.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

class NamedObjects : public testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        char dir[] = "/tmp/qm-named-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_)
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    // A file left behind by a holder that has ended: present, unlocked, stale content.
    void LeaveStaleFile(const std::string& path, const std::string& content) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(fd);
    }

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
    EXPECT_EQ(path.rfind(dir_ + "/quillmor-", 0), 0u) << path;
    EXPECT_EQ(path.find('/', dir_.size() + 1), std::string::npos) << path;
    EXPECT_EQ(NamedObjectPath("", "mutex"), "");
    EXPECT_EQ(NamedObjectPath(std::string(300, 'a').c_str(), "mutex"), "");
    EXPECT_EQ(OsCreateNamedMutex(""), nullptr);
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

}  // namespace
