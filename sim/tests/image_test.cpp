#include "sim/image.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string Field(const std::vector<uint8_t>& image, size_t offset, size_t size) {
    return std::string(image.begin() + offset, image.begin() + offset + size);
}

TEST(SimImage, HeaderFieldsSitWhereTheUpdaterReadsThem) {
    SimImageOptions options;
    options.version = "1.23";
    const std::vector<uint8_t> image = SimMakeImage(options);
    ASSERT_EQ(image.size(), SIM_FIRMWARE_AREA_SIZE);
    EXPECT_EQ(Field(image, 96, 24), "TORVELL DVD-RW  WKZ4471 ");
    EXPECT_EQ(Field(image, 144, 4), "1.23");
    EXPECT_EQ(Field(image, 176, 8), "0082VARN");
    EXPECT_EQ(Field(image, 208, 8), "DT  5518");
    EXPECT_EQ(Field(image, 304, 8), "09/08/21");
}

TEST(SimImage, ShortTextsArePaddedWithNulAndLengthCutsTheHeader) {
    SimImageOptions options;
    options.identification = "TORVELL DVD-RW  WKZ4471";  // no trailing blank
    options.length = 308;                                // the build date half cut off
    const std::vector<uint8_t> image = SimMakeImage(options);
    ASSERT_EQ(image.size(), 308u);
    EXPECT_EQ(image[96 + 23], 0);
    EXPECT_EQ(Field(image, 304, 4), "09/0");
    EXPECT_EQ(SimMakeImage(SimImageOptions{"1.10", "09/08/21", "", "", 0, 1}).size(), 0u);
}

TEST(SimImage, BodyIsDeterministicPerSeed) {
    SimImageOptions a, b;
    b.seed = a.seed + 1;
    const auto first = SimMakeImage(a), again = SimMakeImage(a), other = SimMakeImage(b);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    // The body is not constant: blocks differ from one another.
    EXPECT_NE(Field(first, 0x8000, 64), Field(first, 0x10000, 64));
}

TEST(SimImage, FileDigestCoversWhatADownloadSends) {
    char path[] = "/tmp/qm-sim-image-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    SimImageOptions options;
    options.length = SIM_FIRMWARE_AREA_SIZE + 100;  // the tail is never sent
    std::string error;
    ASSERT_TRUE(SimWriteImage(path, options, &error)) << error;
    const std::vector<uint8_t> image = SimMakeImage(options);
    uint64_t digest = 0;
    ASSERT_TRUE(SimDigestFile(path, &digest));
    EXPECT_EQ(digest, SimDigest(image.data(), SIM_FIRMWARE_AREA_SIZE));
    std::remove(path);
    EXPECT_FALSE(SimDigestFile(path, &digest));
}

}  // namespace
