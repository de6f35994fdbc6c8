// The scratch folder the tests stand on: where it is made, that it takes everything
// in it when it goes but nothing that a link inside points to, and that it is
// removed once, by the process that made it.
#include "testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kPrefix[] = "qm-scratch-test";

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

mode_t Mode(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_TRUE(Exists(path)) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<absent>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sets TMPDIR (nullptr: unsets it) until destroyed.
class TmpDir {
public:
    explicit TmpDir(const char* value) {
        const char* old = std::getenv("TMPDIR");
        m_had = old != nullptr;
        if (old) m_old = old;
        if (value)
            ::setenv("TMPDIR", value, 1);
        else
            ::unsetenv("TMPDIR");
    }
    ~TmpDir() {
        if (m_had)
            ::setenv("TMPDIR", m_old.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    bool m_had = false;
    std::string m_old;
};

TEST(ScratchDir, IsAPrivateFolderUnderTheTemporaryDirectory) {
    ScratchDir chosen(kPrefix);  // stands for a TMPDIR of the user's
    ASSERT_TRUE(chosen.Made());
    const struct {
        const char* name;
        const char* tmpdir;  // nullptr: unset
        std::string parent;
    } cases[] = {
        {"TMPDIR unset", nullptr, "/tmp"},
        {"TMPDIR empty", "", "/tmp"},
        // Relative, it would name another folder once a test changed directory.
        {"TMPDIR relative", "relative", "/tmp"},
        {"TMPDIR absolute", chosen.Path().c_str(), chosen.Path()},
    };
    // A umask that takes the owner's rights away does not take them from the folder.
    struct Umask {
        mode_t old = ::umask(0277);
        ~Umask() { ::umask(old); }
    } umask;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TmpDir tmpdir(c.tmpdir);
        // A quote and a space in the name: nothing parses it.
        const std::string prefix = std::string(kPrefix) + " it's";
        std::string path;
        {
            ScratchDir dir(prefix);
            ASSERT_TRUE(dir.Made());
            path = dir.Path();
            EXPECT_EQ(path.rfind(c.parent + "/" + prefix + "-", 0), 0u) << path;
            EXPECT_EQ(path.size(), c.parent.size() + 1 + prefix.size() + 7) << path;
            struct stat st;
            ASSERT_EQ(::lstat(path.c_str(), &st), 0);
            EXPECT_TRUE(S_ISDIR(st.st_mode));
            EXPECT_EQ(st.st_mode & 07777, 0700u);
            WriteFile(path + "/file", "x");
        }
        EXPECT_FALSE(Exists(path));
    }
}

TEST(ScratchDir, TakesWhatItHoldsButNothingALinkInItPointsTo) {
    // What links in the folder point to, and its rights before.
    ScratchDir outside(kPrefix);
    ASSERT_TRUE(outside.Made());
    const std::string kept = outside.Path() + "/kept";
    const std::string folder = outside.Path() + "/folder";
    WriteFile(kept, "kept");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    WriteFile(folder + "/inner", "inner");
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);

    std::string path;
    {
        ScratchDir dir(kPrefix);
        ASSERT_TRUE(dir.Made());
        path = dir.Path();
        std::string deep = path;
        for (const char* level : {"/a", "/b", "/c"}) {
            deep += level;
            ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
            WriteFile(deep + "/file", level);
        }
        WriteFile(path + "/it's \"quoted\" $(true)\n", "odd name");
        ASSERT_EQ(::symlink(kept.c_str(), (path + "/link to a file").c_str()), 0);
        ASSERT_EQ(::symlink(folder.c_str(), (path + "/a/link to a folder").c_str()), 0);
        ASSERT_EQ(::symlink("/nonexistent", (path + "/a/b/dangling").c_str()), 0);
        ASSERT_EQ(::link(kept.c_str(), (path + "/hard link").c_str()), 0);
        // Folders their owner may not list or change, for a user without root's rights.
        for (const auto& locked : {std::make_pair("/a/unlistable", 0), std::make_pair("/a/b/read-only", 0500)}) {
            const std::string at = path + locked.first;
            ASSERT_EQ(::mkdir(at.c_str(), 0700), 0);
            ASSERT_EQ(::mkdir((at + "/in").c_str(), 0700), 0);
            WriteFile(at + "/in/file", "x");
            ASSERT_EQ(::chmod((at + "/in").c_str(), static_cast<mode_t>(locked.second)), 0);
            ASSERT_EQ(::chmod(at.c_str(), static_cast<mode_t>(locked.second)), 0);
        }
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(ReadFile(kept), "kept");
    EXPECT_EQ(ReadFile(folder + "/inner"), "inner");
    EXPECT_EQ(Mode(folder), 0500u);

    // Handed a link itself, it takes the link only.
    const std::string link = outside.Path() + "/link";
    ASSERT_EQ(::symlink(folder.c_str(), link.c_str()), 0);
    EXPECT_TRUE(RemoveTree(link));
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(ReadFile(folder + "/inner"), "inner");
    EXPECT_EQ(Mode(folder), 0500u);
    EXPECT_TRUE(RemoveTree(outside.Path() + "/absent"));
}

TEST(ScratchDir, AMovedFolderIsRemovedOnceByItsLastHolder) {
    std::string path, replaced;
    ScratchDir last;
    {
        ScratchDir made(kPrefix);
        path = made.Path();
        ScratchDir moved(std::move(made));
        EXPECT_FALSE(made.Made());
        last = ScratchDir(kPrefix);
        replaced = last.Path();
        ASSERT_TRUE(Exists(replaced));
        last = std::move(moved);
        EXPECT_FALSE(Exists(replaced)) << "the folder held before the move onto it";
    }  // the holders it was moved from go here
    ASSERT_TRUE(last.Made());
    EXPECT_EQ(last.Path(), path);
    EXPECT_TRUE(Exists(path));
    EXPECT_TRUE(last.Remove());
    EXPECT_FALSE(last.Made());
    EXPECT_FALSE(Exists(path));
}

TEST(ScratchDir, AForkedChildLeavesItsParentsFolder) {
    ScratchDir dir(kPrefix);
    ASSERT_TRUE(dir.Made());
    const pid_t pid = ::fork();
    if (pid == 0) {
        { ScratchDir inherited(std::move(dir)); }  // as a child ending through exit() would
        ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(Exists(dir.Path()));
}

}  // namespace
