// The Linux runs' pieces that decide without a drive: the options, which device a
// path names, what the progress line claims for the blocks accepted so far, the
// image's SHA-256 and the log's first lines.
#include "app/linux/drive_watch.h"
#include "app/linux/image_sha256.h"
#include "app/linux/options.h"
#include "app/linux/progress.h"
#include "engine/image.h"
#include "os/file.h"
#include "os/process.h"
#include "res/strings.h"
#include "testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ParseOptions on "quillmor" followed by `args`, as main() would hand them over.
bool Parse(std::vector<std::string> args, CliOptions* options, std::string* error) {
    args.insert(args.begin(), "quillmor");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(args.size()), argv.data(), options, error);
}

// Parses `args` into `options`. With `error` (part of the one-line error) they must
// be refused with it; without, accepted. True when they were accepted as expected,
// so that the options may be checked.
bool ParsedAsExpected(const std::vector<std::string>& args, const char* error, CliOptions* options) {
    std::string said;
    const bool parsed = Parse(args, options, &said);
    if (error) {
        EXPECT_FALSE(parsed);
        EXPECT_NE(said.find(error), std::string::npos) << said;
        return false;
    }
    EXPECT_TRUE(parsed) << said;
    return parsed;
}

struct OptionsCase {
    std::vector<std::string> args;
    const char* error;  // nullptr: parsed; else part of the one-line error
    bool verbose, yes, check;
};

TEST(ParseOptions, VerboseIsOneLevelAndNotForTheWindowsRun) {
    const OptionsCase cases[] = {
        {{"--check"}, nullptr, false, false, true},
        {{"--check", "-v"}, nullptr, true, false, true},
        {{"--verbose", "-y"}, nullptr, true, true, false},
        {{"-yv"}, nullptr, true, true, false},
        {{"-v", "--log", "run.log", "--lang", "ja"}, nullptr, true, false, false},
        {{"-v", "-v"}, "-v (--verbose) may be given once", false, false, false},
        {{"-vv", "--check"}, "-v (--verbose) may be given once", false, false, false},
        {{"--verbose", "-y", "-v"}, "-v (--verbose) may be given once", false, false, false},
        // The Windows program's run says nothing of its commands.
        {{"/au", "-v"}, "/au takes the image from the current directory", false, false, false},
        {{"--verbose", "/au"}, "/au takes the image from the current directory", false, false, false},
        {{"--verbose=yes"}, "unknown option --verbose=yes", false, false, false},
        {{"-q", "-v"}, "-q (--quiet) and -v (--verbose) ask for opposite things", false, false, false},
        {{"/au", "-q"}, "/au takes the image from the current directory", false, false, false},
    };
    for (const OptionsCase& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        CliOptions options;
        if (!ParsedAsExpected(c.args, c.error, &options)) continue;
        EXPECT_EQ(options.verbose, c.verbose);
        EXPECT_EQ(options.yes, c.yes);
        EXPECT_EQ(options.check, c.check);
    }
}

// A usage error speaks the language --lang gave before it, else the locale's.
TEST(ParseOptions, AUsageErrorIsInTheLanguageGivenBeforeIt) {
    OsSetResourceLanguage(LANG_ENGLISH_US);
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--lang", "ja", "--wait", "1m"}, "--wait には 0 から 3600 までの秒数を整数で指定してください ('1m' は使えません)"},
        {{"--lang=ja", "-d", "/dev/sda"}, "'/dev/sda' はどれでもありません"},
        {{"--lang", "en", "--lang", "ja", "-v", "-v"}, "-v (--verbose) は 1 回だけ指定できます"},
        {{"--lang", "ja", "--lang", "fr"}, "--lang には en か ja を指定してください ('fr' は使えません)"},
        {{"--wait", "1m", "--lang", "ja"}, "--wait takes whole seconds from 0 to 3600, not '1m'"},
        {{"--lang", "ja", "--wait", "{1}"}, "('{1}' は使えません)"},
    };
    for (const auto& c : cases) {
        CliOptions options;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &options, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    OsSetResourceLanguage(0);
}

struct DeviceCase {
    const char* path;
    char letter;
};

TEST(DevicePaths, NamesOnlyTheSrDevicesTheTableHoldsBothWays) {
    const DeviceCase cases[] = {
        {"/dev/sr0", 'C'}, {"/dev/sr1", 'D'}, {"/dev/sr23", 'Z'},
        {"/dev/sr24", 0},  // past the table's 24 letters
        {"/dev/sr01", 0},  // another spelling of sr1 would name a device twice
        {"/dev/sr", 0},    {"/dev/sr1x", 0}, {"/dev/sda", 0}, {"sr1", 0}, {"", 0},
    };
    for (const DeviceCase& c : cases) {
        EXPECT_EQ(DeviceLetterForPath(c.path), c.letter) << c.path;
        // The log and the drive list name a letter by the same path it was chosen by.
        if (c.letter != 0) {
            EXPECT_EQ(DevicePathOfLetter(c.letter), c.path);
        }
    }
    EXPECT_EQ(DevicePathOfLetter(0), "?");  // a handle the watch never saw opened
}

// Links such as /dev/cdrom and /dev/disk/by-id/..., and /dev/sgN through sysfs,
// name the same letters; anything that ends elsewhere names none.
TEST(DevicePaths, FollowsLinksAndFindsTheDriveBehindItsSgNode) {
    ScratchDir scratch("qm-devpaths");
    const std::string root = scratch.Path();
    const std::string sys = root + "/sys";
    for (const std::string& dir : {sys + "/class/scsi_generic/sg0/device/block/sr0", sys + "/class/scsi_generic/sg5/device",
                                   root + "/by-id"})
        std::filesystem::create_directories(dir);
    struct LinkCase {
        const char* name;    // a link in the scratch folder
        const char* target;  // where it points
        char letter;
    };
    const LinkCase links[] = {
        {"cdrom", "/dev/sr1", 'D'},
        {"tidy", "/dev/./disk/../sr3", 'F'},
        {"abs", "/dev/sr4", 'G'},
        {"by-id/usb-TORVELL_WKZ4471", "../abs", 'G'},  // relative, through another link
        {"disk", "/dev/sda", 0},
        {"loop", "loop", 0},
    };
    for (const LinkCase& c : links) ASSERT_EQ(::symlink(c.target, (root + "/" + c.name).c_str()), 0) << c.name;
    for (const LinkCase& c : links) EXPECT_EQ(DeviceLetterForPath(root + "/" + c.name, sys), c.letter) << c.name;
    EXPECT_EQ(DeviceLetterForPath("/dev/sg0", sys), 'C');
    EXPECT_EQ(DeviceLetterForPath("/dev/sg5", sys), 0) << "an sg node with no sr device behind it";
    EXPECT_EQ(DeviceLetterForPath("/dev/sg9", sys), 0) << "no such sg node";
    EXPECT_EQ(DeviceLetterForPath("/dev/sgx", sys), 0);
}

struct LineCase {
    uint32_t done;
    uint64_t elapsedMs;
    const char* expected;
};

TEST(ProgressLine, CountsAcceptedBlocksAndEstimatesFromTheRateSoFar) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    Console console(sink, true);
    Progress progress(console, 60, 0x8000, false);
    const LineCase cases[] = {
        {0, 0, "[------------------------------] block 0 of 60  0 bytes  0:00 elapsed  ? left"},
        {1, 500, "[------------------------------] block 1 of 60  32768 bytes  0:00 elapsed  0:29 left"},
        {30, 15000, "[###############---------------] block 30 of 60  983040 bytes  0:15 elapsed  0:15 left"},
        // One block short is never drawn as a full bar.
        {59, 59000, "[#############################-] block 59 of 60  1933312 bytes  0:59 elapsed  0:01 left"},
        {60, 61000, "[##############################] block 60 of 60  1966080 bytes  1:01 elapsed  0:00 left"},
    };
    for (const LineCase& c : cases) EXPECT_EQ(progress.Line(c.done, c.elapsedMs), c.expected) << c.done;
    std::fclose(sink);
}

TEST(ProgressLine, NeverWrapsHoweverNarrowTheTerminal) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    Console console(sink, true);
    for (bool japanese : {false, true}) {
        Progress progress(console, 60, 0x8000, japanese);
        for (unsigned columns : {200u, 100u, 80u, 60u, 50u, 40u, 30u, 20u, 8u, 4u}) {
            for (uint32_t done : {0u, 9u, 60u}) {
                const std::string line = progress.Line(done, 61000, columns);
                EXPECT_LT(DisplayColumns(line), columns) << columns << " columns: " << line;
                // However short, it still says how far the download is, when there is room.
                if (columns >= 8) {
                    EXPECT_NE(line.find(std::to_string(done)), std::string::npos) << line;
                }
            }
        }
        // The full line comes back at 80 columns: nothing is dropped that fits.
        EXPECT_NE(progress.Line(9, 1000, 80).find(japanese ? "294912 バイト" : "294912 bytes"), std::string::npos);
    }
    std::fclose(sink);
}

TEST(DisplayColumns, CountsWideCharactersTwice) {
    EXPECT_EQ(DisplayColumns("block 1"), 7u);
    EXPECT_EQ(DisplayColumns("ブロック 1"), 10u);
    EXPECT_EQ(DisplayColumns("終了コード: 0"), 13u);
}

TEST(HelpText, FitsEightyColumnsInEitherLanguage) {
    for (bool japanese : {false, true}) {
        std::istringstream lines(HelpText(japanese));
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            EXPECT_LE(DisplayColumns(line), 80u) << (japanese ? "ja: " : "en: ") << line;
        EXPECT_GT(count, 10);
    }
    EXPECT_NE(HelpText(true).find("終了コード"), std::string::npos);
    EXPECT_NE(HelpText(false).find("10 the drive changed"), std::string::npos);
}

struct Sha256OptionCase {
    std::vector<std::string> args;
    const char* error;  // nullptr: parsed; else part of the one-line error
    const char* sha256;
};

TEST(ParseOptions, Sha256TakesSixtyFourHexDigitsInEitherCase) {
    const std::string lower(64, 'a');
    const std::string mixed = "0123456789ABCDEFabcdef" + std::string(42, 'F');
    const Sha256OptionCase cases[] = {
        {{"--sha256", lower}, nullptr, lower.c_str()},
        {{"--check", "--sha256=" + mixed}, nullptr, "0123456789abcdefabcdef" "ffffffffffffffffffffffffffffffffffffffffff"},
        {{"--sha256", std::string(63, 'a')}, "--sha256 takes the image's SHA-256 as 64 hex digits", ""},
        {{"--sha256", std::string(65, 'a')}, "--sha256 takes the image's SHA-256 as 64 hex digits", ""},
        {{"--sha256", std::string(63, 'a') + "g"}, "--sha256 takes the image's SHA-256 as 64 hex digits", ""},
        {{"--sha256", std::string(32, 'a') + " " + std::string(31, 'a')}, "64 hex digits", ""},
        // sha256sum's line is not the digest alone.
        {{"--sha256", lower + "  Q5518306.707"}, "64 hex digits", ""},
        {{"--sha256", "0x" + std::string(62, 'a')}, "64 hex digits", ""},
        {{"--sha256"}, "option --sha256 needs a value", ""},
        {{"/au", "--sha256", lower}, "/au takes the image from the current directory", ""},
    };
    for (const Sha256OptionCase& c : cases) {
        SCOPED_TRACE(c.args.back());
        CliOptions options;
        if (!ParsedAsExpected(c.args, c.error, &options)) continue;
        EXPECT_EQ(options.sha256, c.sha256);
    }
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(ImageSha256, IsOfTheWholeFile) {
    ScratchDir dir("qm-sha");
    ASSERT_TRUE(dir.Made());
    const std::string path = dir.Path() + "/image";
    // FIPS 180-2's examples, and more than one read's worth of bytes.
    WriteBytes(path, "");
    EXPECT_EQ(FileSha256(path), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    WriteBytes(path, "abc");
    EXPECT_EQ(FileSha256(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    WriteBytes(path, std::string(1000000, 'a'));
    EXPECT_EQ(FileSha256(path), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(FileSha256(dir.Path() + "/absent"), "");
    EXPECT_EQ(FileSha256(dir.Path()), "");  // a folder is no image
}

// The digest an update is held to stands for the bytes held (those sent), followed
// by the file's bytes past them: a change in the file's head after the copy was
// taken cannot make it match, nor hide; a change in the tail, never sent, shows.
TEST(ImageSha256, OfTheHeldImageStandsForTheBytesHeld) {
    ScratchDir dir("qm-sha");
    ASSERT_TRUE(dir.Made());
    const std::string path = dir.Path() + "/image";
    std::string bytes;
    for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(i * 7 + i / 251);
    WriteBytes(path, bytes);
    const std::string whole = FileSha256(path);
    ASSERT_EQ(whole.size(), 64u);

    EXPECT_EQ(HeldImageSha256(path), "");  // nothing held
    g_hImage = OsOpenImageForUpdate(path.c_str(), 200000);
    ASSERT_NE(g_hImage, nullptr);
    EXPECT_EQ(HeldImageSha256(path), whole);
    EXPECT_EQ(HeldImageSha256(path), whole) << "a second reading, from the held copy's start";

    std::string head = bytes;
    head[10] ^= 1;
    WriteBytes(path, head);
    EXPECT_EQ(HeldImageSha256(path), whole) << "the head sent is the one held, not the file's";
    EXPECT_NE(FileSha256(path), whole);

    std::string tail = bytes;
    tail[250000] ^= 1;
    WriteBytes(path, tail);
    EXPECT_NE(HeldImageSha256(path), whole);
    WriteBytes(path, bytes + "x");
    EXPECT_NE(HeldImageSha256(path), whole);
    WriteBytes(path, bytes.substr(0, 100000));  // the file now ends inside the held bytes
    EXPECT_NE(HeldImageSha256(path), whole);
    CloseImage();
}

// What bash reads back from each word quoted is the word.
TEST(ShellQuoted, QuotesOnlyWhereNeededAndReadsBackAsTheWord) {
    const struct {
        std::string word;
        const char* quoted;
    } cases[] = {
        {"--log=run.log", "--log=run.log"},
        {"/dev/sr1", "/dev/sr1"},
        {"", "''"},
        {"my run.log", "'my run.log'"},
        {"it's", "'it'\\''s'"},
        {"$HOME/*.img", "'$HOME/*.img'"},
        {"~/a;b|c&d`e`\"f\"", "'~/a;b|c&d`e`\"f\"'"},
        {"イメージ.img", "'イメージ.img'"},
        {"a\nb", "$'a\\x0Ab'"},
        {"tab\there's\\", "$'tab\\x09here\\'s\\\\'"},
    };
    for (const auto& c : cases) {
        const std::string quoted = ShellQuoted(c.word);
        EXPECT_EQ(quoted, c.quoted) << c.word;
        const std::string command = "bash -c 'printf %s \"$1\"' _ " + quoted;
        FILE* shell = ::popen(("bash -c " + ShellQuoted(command)).c_str(), "r");
        ASSERT_NE(shell, nullptr);
        std::string read;
        char buffer[256];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, shell)) > 0;) read.append(buffer, n);
        EXPECT_EQ(::pclose(shell), 0);
        EXPECT_EQ(read, c.word) << quoted;
    }
}

TEST(LogHeader, NamesTheVersionTheCommandLineTheTimeWithItsZoneAndTheDevice) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    std::vector<std::string> words{"/usr/bin/quillmor", "-y", "--log", "my run.log", "-d", "/dev/sr1"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    EXPECT_EQ(LogHeader(6, argv.data(), "/dev/sr1", 86400 + 3600),
              (std::vector<std::string>{VersionText(), "command line: /usr/bin/quillmor -y --log 'my run.log' -d /dev/sr1",
                                        "started: 1970-01-02 10:00:00 +0900 (JST)", "device: /dev/sr1"}));
    EXPECT_EQ(LogHeader(1, argv.data(), "", 0).back(), "device: not named; told once chosen");
    if (before)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
