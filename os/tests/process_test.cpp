#include "os/linux/linux_internal.h"
#include "os/linux/text.h"
#include "os/platform.h"
#include "os/process.h"
#include "res/resource.h"
#include "res/strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Sets the locale variables for one case and puts the old values back.
class LocaleEnvironment {
public:
    LocaleEnvironment(const char* all, const char* category, const char* categoryValue, const char* lang) {
        Save("LC_ALL");
        Save("LC_CTYPE");
        Save("LC_MESSAGES");
        Save("LANG");
        Set("LC_ALL", all);
        Set("LC_CTYPE", nullptr);
        Set("LC_MESSAGES", nullptr);
        Set(category, categoryValue);
        Set("LANG", lang);
    }
    ~LocaleEnvironment() {
        for (auto& saved : saved_) Set(saved.first.c_str(), saved.second.empty() ? nullptr : saved.second.c_str());
    }

private:
    void Save(const char* name) {
        const char* v = std::getenv(name);
        saved_.emplace_back(name, v ? v : "");
    }
    static void Set(const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST(Locale, FirstSetVariableDecides) {
    struct Case {
        const char* all;
        const char* category;
        const char* lang;
        bool japanese;
    } cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", true},
        {nullptr, nullptr, "en_US.UTF-8", false},
        {nullptr, nullptr, nullptr, false},
        {"C", nullptr, "ja_JP.UTF-8", false},     // LC_ALL overrides LANG
        {"ja_JP", nullptr, "en_US", true},
        {nullptr, "ja_JP.eucJP", "en_US", true},  // the category overrides LANG
        {nullptr, "C", "ja_JP", false},
        {"", "", "ja_JP", true},                  // empty counts as unset
        {nullptr, nullptr, "jam", true},          // only the first two letters are read
        {nullptr, nullptr, "JA_JP", false},
    };
    for (const char* category : {"LC_CTYPE", "LC_MESSAGES"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << category << " all=" << (c.all ? c.all : "-") << " cat="
                                            << (c.category ? c.category : "-") << " lang=" << (c.lang ? c.lang : "-"));
            LocaleEnvironment env(c.all, category, c.category, c.lang);
            EXPECT_EQ(LocaleIsJapanese(category), c.japanese);
            if (std::strcmp(category, "LC_CTYPE") == 0) {
                EXPECT_EQ(OsPlatform().OemCodePage(), c.japanese ? 932u : 437u);
            }
        }
    }
}

TEST(LoadString, CopiesWithinTheBufferAndKeepsCharactersWhole) {
    const char* ja = "\xE3\x82\x82\xE3\x81\x86";  // "もう": two 3-byte characters
    struct Case {
        const char* text;
        int size;
        const char* expected;
    } cases[] = {
        {"firmware updater", 64, "firmware updater"},
        {"firmware updater", 9, "firmware"},
        {"firmware updater", 1, ""},
        {ja, 7, ja},
        {ja, 6, "\xE3\x82\x82"},  // the second character would not fit whole
        {ja, 3, ""},
        {nullptr, 64, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        char buf[64];
        std::memset(buf, 'x', sizeof buf);
        const int n = CopyStringTruncated(c.text, buf, c.size);
        EXPECT_STREQ(buf, c.expected);
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
    }
    char untouched = 'x';
    EXPECT_EQ(CopyStringTruncated("abc", &untouched, 0), 0);
    EXPECT_EQ(untouched, 'x');
}

TEST(LoadString, LanguageFollowsTheMessagesLocale) {
    char buf[128];
    {
        LocaleEnvironment env(nullptr, "LC_MESSAGES", nullptr, "en_US.UTF-8");
        EXPECT_EQ(OsLoadString(IDS_CAPTION, buf, sizeof buf), 16);
        EXPECT_STREQ(buf, "firmware updater");
        EXPECT_EQ(OsLoadString(9999, buf, sizeof buf), 0);  // no such string
        EXPECT_STREQ(buf, "");
        // A fixed language comes before the locale until it is released.
        OsSetResourceLanguage(LANG_JAPANESE_JP);
        EXPECT_EQ(OsResourceLanguage(), LANG_JAPANESE_JP);
        EXPECT_GT(OsLoadString(IDS_CAPTION, buf, sizeof buf), 0);
        EXPECT_STRNE(buf, "firmware updater");
        OsSetResourceLanguage(0);
        EXPECT_EQ(OsLoadString(IDS_CAPTION, buf, sizeof buf), 16);
    }
    {
        LocaleEnvironment env(nullptr, "LC_MESSAGES", "ja_JP.UTF-8", "en_US.UTF-8");
        EXPECT_GT(OsLoadString(IDS_CAPTION, buf, sizeof buf), 0);
        EXPECT_STRNE(buf, "firmware updater");
    }
}

struct FillCase {
    const char* pattern;
    std::vector<std::string> args;
    const char* filled;
};

TEST(FillPlaceholders, PutsEachArgumentWhereItsNumberStandsAndNothingElse) {
    const FillCase cases[] = {
        {"{1} opened; {2} left", {"/dev/sr1", "3"}, "/dev/sr1 opened; 3 left"},
        {"{2} を残し {1} を開きました", {"/dev/sr1", "3"}, "3 を残し /dev/sr1 を開きました"},
        {"{1}: {1}", {"x"}, "x: x"},
        {"{9}", {"1", "2", "3", "4", "5", "6", "7", "8", "nine"}, "nine"},
        // A missing argument leaves its placeholder, for the fault to show.
        {"{1} and {2}", {"a"}, "a and {2}"},
        {"{1}", {}, "{1}"},
        // An argument goes in as it is: a device path or a file name holding braces
        // is never taken for a placeholder.
        {"{1} {2}", {"{2}", "{1}"}, "{2} {1}"},
        {"[{1}]", {"{1}"}, "[{1}]"},
        {"[{1}]", {""}, "[]"},
        // Only {1} to {9}.
        {"{0} {10} {a} { 1} {1", {"x"}, "{0} {10} {a} { 1} {1"},
        {"", {"x"}, ""},
    };
    for (const FillCase& c : cases) EXPECT_EQ(FillPlaceholders(c.pattern, c.args), c.filled) << c.pattern;
}

TEST(CommandLine, ArgumentsJoinedBySingleSpaces) {
    char prog[] = "/opt/quillmor";
    char au[] = "/au";
    char* argv[] = {prog, au, nullptr};
    OsSetCommandLine(2, argv);
    EXPECT_STREQ(OsGetCommandLine(), "/opt/quillmor /au");
    OsSetCommandLine(0, nullptr);
    EXPECT_STREQ(OsGetCommandLine(), "");
}

}  // namespace
