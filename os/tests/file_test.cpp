#include "os/file.h"
#include "os/linux/linux_internal.h"
#include "testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

class ImageFile : public testing::Test {
protected:
    void SetUp() override {
        scratch_ = ScratchDir("qm-file");
        ASSERT_TRUE(scratch_.Made()) << std::strerror(errno);
        dir_ = scratch_.Path();
        path_ = dir_ + "/image.bin";
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < 256; ++i) {
            const unsigned char b = static_cast<unsigned char>(i);
            ASSERT_EQ(::write(fd, &b, 1), 1);
        }
        ::close(fd);
    }
    void TearDown() override { EXPECT_TRUE(scratch_.Remove()) << dir_; }
    ScratchDir scratch_;
    std::string dir_;
    std::string path_;
};

TEST_F(ImageFile, SeekAndReadUpToTheEnd) {
    OsHandle f = OsOpenImageFile(path_.c_str());
    ASSERT_NE(f, nullptr);
    unsigned char buf[32];
    uint32_t got = 99;
    ASSERT_TRUE(OsSeekFile(f, 100));
    ASSERT_TRUE(OsReadFile(f, buf, 10, &got));
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(buf[0], 100);
    EXPECT_EQ(buf[9], 109);

    // Short at the end of the file, then nothing: success with the count read.
    ASSERT_TRUE(OsSeekFile(f, 250));
    ASSERT_TRUE(OsReadFile(f, buf, sizeof buf, &got));
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(buf[5], 255);
    ASSERT_TRUE(OsReadFile(f, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    OsCloseFile(f);
}

TEST_F(ImageFile, OnlyOneOpenerAtATime) {
    OsHandle first = OsOpenImageFile(path_.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(OsOpenImageFile(path_.c_str()), nullptr);
    OsCloseFile(first);
    OsHandle again = OsOpenImageFile(path_.c_str());
    EXPECT_NE(again, nullptr);
    OsCloseFile(again);
}

// Opened for an update: what the handle reads stays what the file held then,
// whatever is written to the file afterwards, and nobody can write to the copy.
TEST_F(ImageFile, OpenedForAnUpdateItReadsTheBytesOfItsOpening) {
    OsHandle f = OsOpenImageForUpdate(path_.c_str(), 200);
    ASSERT_NE(f, nullptr);
    const int fd = ::open(path_.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const unsigned char zeros[256] = {};
    ASSERT_EQ(::pwrite(fd, zeros, sizeof zeros, 0), 256);
    ASSERT_EQ(::ftruncate(fd, 10), 0);
    ::close(fd);

    unsigned char buf[256];
    uint32_t got = 0;
    ASSERT_TRUE(OsSeekFile(f, 0));
    ASSERT_TRUE(OsReadFile(f, buf, sizeof buf, &got));
    ASSERT_EQ(got, 200u);  // no more than it was asked to keep
    for (int i = 0; i < 200; ++i) ASSERT_EQ(buf[i], i) << "byte " << i;

    // Nobody writes to the copy: not this process, nor one that opens it by its
    // /proc name.
    EXPECT_EQ(::pwrite(FdFromHandle(f), "x", 1, 0), -1);
    EXPECT_EQ(::mmap(nullptr, 200, PROT_READ | PROT_WRITE, MAP_SHARED, FdFromHandle(f), 0), MAP_FAILED);
    const std::string other = "/proc/self/fd/" + std::to_string(FdFromHandle(f));
    const int again = ::open(other.c_str(), O_RDWR);
    if (again >= 0) {
        EXPECT_EQ(::pwrite(again, "x", 1, 0), -1);
        EXPECT_NE(::ftruncate(again, 0), 0);
        ::close(again);
    }
    OsCloseFile(f);

    // A file shorter than asked: as much as it holds.
    OsHandle shorter = OsOpenImageForUpdate(path_.c_str(), 200);
    ASSERT_NE(shorter, nullptr);
    ASSERT_TRUE(OsReadFile(shorter, buf, sizeof buf, &got));
    EXPECT_EQ(got, 10u);
    OsCloseFile(shorter);
    EXPECT_EQ(OsOpenImageForUpdate((dir_ + "/missing").c_str(), 200), nullptr);
}

TEST_F(ImageFile, WhatCannotBeOpened) {
    EXPECT_EQ(OsOpenImageFile((dir_ + "/missing").c_str()), nullptr);
    EXPECT_EQ(OsOpenImageFile(dir_.c_str()), nullptr);  // a directory is not an image
    EXPECT_EQ(OsOpenImageFile(nullptr), nullptr);
}

TEST_F(ImageFile, CurrentDirectoryFollowsTheWin32Convention) {
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    const uint32_t length = static_cast<uint32_t>(dir_.size());

    char buf[4096];
    EXPECT_EQ(OsGetCurrentDirectory(sizeof buf, buf), length);
    EXPECT_EQ(std::string(buf), dir_);

    // Too small by one (no room for the NUL), or no buffer: the size needed.
    char small[4096];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(OsGetCurrentDirectory(length, small), length + 1);
    EXPECT_EQ(OsGetCurrentDirectory(0, nullptr), length + 1);
    EXPECT_EQ(OsGetCurrentDirectory(length + 1, small), length);
    EXPECT_EQ(std::string(small), dir_);
    EXPECT_EQ(kOsPathSeparator, '/');

    ASSERT_EQ(::chdir(saved), 0);
}

}  // namespace
