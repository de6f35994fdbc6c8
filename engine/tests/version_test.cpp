// The version check: the rule that decides whether the image is newer, and the
// reading of the fields it compares.
#include "engine/image.h"
#include "engine/tests/version_cases.h"
#include "os/file.h"
#include "testing/missing.h"
#include "testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Found by argument-dependent lookup, beside the case type.
void PrintTo(const VersionRuleCase& c, std::ostream* os) { *os << c.name; }

namespace {

class VersionRule : public ::testing::TestWithParam<VersionRuleCase> {};

TEST_P(VersionRule, DecidesWhetherTheImageIsNewer) {
    EXPECT_EQ(IsUpdateNeeded(VersionRuleRecord(GetParam())), GetParam().needed);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionRule, ::testing::ValuesIn(kVersionRuleCases),
                         [](const ::testing::TestParamInfo<VersionRuleCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(VersionRuleLocale, ReadsThePointWhateverTheLocale) {
    const char* saved = std::setlocale(LC_NUMERIC, nullptr);
    std::string restore = saved ? saved : "C";
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            comma = name;
            break;
        }
    }
    if (!comma) QM_MISSING("a locale with a decimal comma") << "tools/install-deps.sh builds de_DE.UTF-8";
    const std::string separator = std::localeconv()->decimal_point;
    // Read up to the comma's place, both would be 1: equal, no update.
    bool needed = IsUpdateNeeded(VersionRuleRecord({"", "1.09", "1.10", "090821", "090821", true}));
    std::setlocale(LC_NUMERIC, restore.c_str());
    ASSERT_EQ(separator, ",") << comma;
    EXPECT_TRUE(needed);
}

// A scratch directory holding an image file made of the bytes a test gives it.
class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_scratch = ScratchDir("qm-version");
        ASSERT_TRUE(m_scratch.Made()) << std::strerror(errno);
        m_dir = m_scratch.Path();
    }
    void TearDown() override { EXPECT_TRUE(m_scratch.Remove()) << m_dir; }
    std::string Path() const { return m_dir + "/" + IMAGE_FILE_NAME; }

    // A header of `size` bytes (0xEE filler) with the version at 144, the date at 304.
    void WriteImage(size_t size, const char* version = "1.07", const char* date = "09/08/21") {
        std::string bytes(size, '\xEE');
        auto put = [&](size_t at, const char* text) {
            for (size_t i = 0; text[i] && at + i < size; ++i) bytes[at + i] = text[i];
        };
        put(IMAGE_VERSION_OFFSET, version);
        put(IMAGE_DATE_OFFSET, date);
        FILE* f = std::fopen(Path().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }

    ScratchDir m_scratch;
    std::string m_dir;
};

// INQUIRY data of a drive at revision `revision` built on `date`.
std::vector<uint8_t> Inquiry(const char* revision, const char* date) {
    std::vector<uint8_t> data(INQUIRY_LENGTH, 0);
    std::memcpy(&data[8], "TORVELL DVD-RW  WKZ4471 ", 24);
    std::memcpy(&data[32], revision, 4);
    data[36] = ' ';
    std::memcpy(&data[37], date, 8);
    return data;
}

TEST_F(ImageFiles, FillsTheRecordFromDriveAndImage) {
    WriteImage(IMAGE_HEADER_END, "1.07", "09/08/21");
    VersionRecord record;
    std::vector<uint8_t> inquiry = Inquiry("1.05", "08/12/03");
    EXPECT_EQ(ImageUpdateNeeded(inquiry.data(), INQUIRY_LENGTH, Path().c_str(), record), IMAGE_NEEDED);
    EXPECT_STREQ(record.currentVersion, "1.05");
    EXPECT_STREQ(record.imageVersion, "1.07");
    EXPECT_STREQ(record.driveDate, "081203");
    EXPECT_STREQ(record.imageDate, "090821");
    EXPECT_STREQ(record.driveName, "TORVELL DVD-RW  ");  // 16, not 24
}

TEST_F(ImageFiles, SameVersionAndDateIsNotNeeded) {
    WriteImage(IMAGE_HEADER_END, "1.07", "09/08/21");
    VersionRecord record;
    std::vector<uint8_t> inquiry = Inquiry("1.07", "09/08/21");
    EXPECT_EQ(ImageUpdateNeeded(inquiry.data(), INQUIRY_LENGTH, Path().c_str(), record), IMAGE_NOT_NEEDED);
}

TEST_F(ImageFiles, ImageWithoutWholeHeaderIsUnreadable) {
    std::vector<uint8_t> inquiry = Inquiry("0000", "00/00/00");
    VersionRecord record;
    // Missing file, then files cut inside the date and inside the version.
    EXPECT_EQ(ImageUpdateNeeded(inquiry.data(), INQUIRY_LENGTH, Path().c_str(), record), IMAGE_UNREADABLE);
    for (size_t size : {size_t{IMAGE_HEADER_END - 1}, size_t{146}, size_t{0}}) {
        WriteImage(size);
        EXPECT_EQ(ImageUpdateNeeded(inquiry.data(), INQUIRY_LENGTH, Path().c_str(), record), IMAGE_UNREADABLE)
            << size << " bytes";
        EXPECT_STREQ(record.imageVersion, "") << size << " bytes";
    }
}

// Only the bytes of the INQUIRY reply that arrived count; the rest of the buffer
// here holds another drive's revision and date, which must never decide.
TEST_F(ImageFiles, DriveValuesThatDidNotArriveAreUnknown) {
    struct Case {
        const char* name;
        const char* revision;  // the drive's, in the reply
        uint32_t length;       // bytes of the reply that arrived
        int needed;
    } const cases[] = {
        {"reply ends inside the revision", "1.05", 34, IMAGE_DRIVE_UNKNOWN},
        {"no reply at all", "1.05", 0, IMAGE_DRIVE_UNKNOWN},
        // Equal revisions consult the dates: the drive's did not arrive.
        {"equal revisions, no date", "1.07", INQUIRY_REVISION_END, IMAGE_DRIVE_UNKNOWN},
        {"equal revisions, date cut short", "1.07", INQUIRY_DATE_END - 1, IMAGE_DRIVE_UNKNOWN},
        // Revisions that differ decide alone.
        {"older drive, no date", "1.05", INQUIRY_REVISION_END, IMAGE_NEEDED},
        {"newer drive, no date", "1.09", INQUIRY_REVISION_END, IMAGE_NOT_NEEDED},
        {"equal revisions, whole date", "1.07", INQUIRY_DATE_END, IMAGE_NOT_NEEDED},
    };
    WriteImage(IMAGE_HEADER_END, "1.07", "09/08/21");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Past the reply: an earlier drive's revision 1.00 and date 01/01/01.
        std::vector<uint8_t> buffer = Inquiry("1.00", "01/01/01");
        std::memcpy(buffer.data(), Inquiry(c.revision, "09/08/21").data(), c.length);
        VersionRecord record;
        EXPECT_EQ(ImageUpdateNeeded(buffer.data(), c.length, Path().c_str(), record), c.needed);
        if (c.length < INQUIRY_REVISION_END) {
            EXPECT_STREQ(record.imageVersion, "") << "the image is not read for an unknown revision";
        }
    }
}

TEST(ImagePath, RefusesAPathThatDoesNotFitInsteadOfCuttingIt) {
    std::string fits(IMAGE_PATH_SIZE - 1, 'a');
    ASSERT_TRUE(SetImagePath(fits.c_str()));
    EXPECT_EQ(std::string(g_imagePath), fits);

    std::string tooLong(IMAGE_PATH_SIZE, 'b');
    EXPECT_FALSE(SetImagePath(tooLong.c_str()));
    EXPECT_STREQ(g_imagePath, "");
}

class LocateImageIn : public ImageFiles {
protected:
    void SetUp() override {
        ImageFiles::SetUp();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        m_saved = cwd;
        ASSERT_EQ(chdir(m_dir.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(m_saved.c_str()), 0);
        ImageFiles::TearDown();
    }
    std::string m_saved;
};

TEST_F(LocateImageIn, GivesTheFullPathFoundOrNot) {
    char path[LOCATE_PATH_SIZE];
    EXPECT_EQ(LocateImage(path), 0);
    EXPECT_EQ(std::string(path), Path());
    WriteImage(IMAGE_HEADER_END);
    EXPECT_EQ(LocateImage(path), 1);
    EXPECT_EQ(std::string(path), Path());
}

TEST_F(LocateImageIn, DirectoryTooLongForThePathFindsNothing) {
    // Nested directories until the directory fits the buffer but the full path does not.
    std::string deep = m_dir;
    const std::string name(100, 'd');
    while (deep.size() + 1 + name.size() < LOCATE_PATH_SIZE - 8) {
        deep += "/" + name;
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    deep += "/" + std::string(LOCATE_PATH_SIZE - 8 - deep.size(), 'e');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    std::string image = deep + "/" + IMAGE_FILE_NAME;
    FILE* f = std::fopen(image.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(chdir(deep.c_str()), 0);

    char path[LOCATE_PATH_SIZE + 16];
    std::memset(path, 'x', sizeof path);
    EXPECT_EQ(LocateImage(path), 0);
    EXPECT_LT(std::strlen(path), size_t{LOCATE_PATH_SIZE});
    EXPECT_EQ(path[LOCATE_PATH_SIZE], 'x');  // nothing written past the buffer
}

}  // namespace
