// The generated resource tables: every text the program shows exists in both
// languages, and the English texts are exactly the ones the program must show.
#include "res/strings.h"
#include "res/templates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct StringCase {
    unsigned id;
    const char* english;
};

// Every string id the program loads, with its English text.
const StringCase kUsedStrings[] = {
    {101, "firmware updater Version(&A)..."},
    {102, "Target is not found"},
    {103, "cannot load wnaspi32.dll"},
    {104, "cannot get addres of ASPI32SupportInfo()"},
    {105, "cannot get address of SendASPI32Command()"},
    {106, "cannot get OS type"},
    {109, "Firmware update completes.\r\nrestart PC."},
    {112, "firmware updater"},
    {113,
     "The use in an improper way may cause the serious obstacle\r\nfor a system.\r\n"
     "Please execute according to the following notes.\r\n\r\n[Notes]\r\n\r\n"
     "-Please do not perform operation which makes a computer\r\n"
     " a standby state and hibernation or shuts down a power supply\r\n"
     " during program execution.\r\n"
     "-This function requires administrative rights to execute.\r\n\r\n"
     "Please close all applications before executing this program.\r\n\r\nExecute?"},
    {114, "firmware file not found"},
    {115, "please exit windows after closing this firmware updater"},
    {116,
     "Updater failed.\r\nBut if drive name is displayed in [target drive]\r\n"
     "please push [update] button again."},
    {118, "imcompatible firmware file"},
    {119, "command error occured"},
    {120, "file open error"},
    {121, "It is unnecessary to update."},
    {122, "please wait a second."},
    {123, nullptr},  // our own wording; only its presence matters
    {127, "Targets are more than one drive."},
};

class UsedString : public ::testing::TestWithParam<StringCase> {};

TEST_P(UsedString, ExistsInBothLanguagesWithTheEnglishText) {
    const StringCase& c = GetParam();
    const char* en = ResourceString(c.id, LANG_ENGLISH_US);
    const char* ja = ResourceString(c.id, LANG_JAPANESE_JP);
    ASSERT_NE(en, nullptr);
    ASSERT_NE(ja, nullptr);
    EXPECT_STRNE(en, "");
    EXPECT_STRNE(ja, "");
    if (c.english) {
        EXPECT_STREQ(en, c.english);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, UsedString, ::testing::ValuesIn(kUsedStrings),
                         [](const auto& info) { return std::to_string(info.param.id); });

TEST(StringTable, JapaneseTextsAreTheJapaneseSet) {
    EXPECT_STREQ(ResourceString(112, LANG_JAPANESE_JP), "ファームウェア アップデータ");
    EXPECT_STREQ(ResourceString(122, LANG_JAPANESE_JP), "もうしばらくお待ちください。");
    // The warning's continuation line starts with an ideographic space.
    EXPECT_NE(std::strstr(ResourceString(113, LANG_JAPANESE_JP), "\r\n\u3000電源を切る"), nullptr);
}

TEST(StringTable, UnknownIdOrLanguageHasNoText) {
    EXPECT_EQ(ResourceString(100, LANG_ENGLISH_US), nullptr);
    EXPECT_EQ(ResourceString(128, LANG_ENGLISH_US), nullptr);
    EXPECT_EQ(ResourceString(112, 1031), nullptr);
}

const ResControl* FindControl(const ResDialog* d, int id, const char* text = nullptr) {
    for (int i = 0; i < d->controlCount; ++i) {
        const ResControl& c = d->controls[i];
        if (c.id == id && (!text || std::strcmp(c.text, text) == 0)) return &c;
    }
    return nullptr;
}

constexpr uint32_t kVisible = 0x10000000;
constexpr uint32_t kDefPushButton = 0x1;

TEST(DialogTemplates, EveryTemplateExistsInBothLanguagesWithTheSameControlIds) {
    for (unsigned id : {100u, 102u, 129u, 130u}) {
        const ResDialog* en = ResourceDialog(id, LANG_ENGLISH_US);
        const ResDialog* ja = ResourceDialog(id, LANG_JAPANESE_JP);
        ASSERT_NE(en, nullptr) << id;
        ASSERT_NE(ja, nullptr) << id;
        EXPECT_EQ(en->style, ja->style) << id;
        ASSERT_EQ(en->controlCount, ja->controlCount) << id;
        for (int i = 0; i < en->controlCount; ++i) {
            EXPECT_EQ(en->controls[i].id, ja->controls[i].id) << id;
            EXPECT_EQ(en->controls[i].style, ja->controls[i].style) << id;
        }
    }
    EXPECT_TRUE(ResourceIconExists(128));
}

TEST(DialogTemplates, MainDialog) {
    const ResDialog* d = ResourceDialog(102, LANG_ENGLISH_US);
    EXPECT_STREQ(d->caption, "firmware updater");
    EXPECT_NE(d->style & kVisible, 0u);
    EXPECT_EQ(d->exStyle, 0x00040000u);  // its own task bar button
    EXPECT_EQ(d->cx, 239);
    EXPECT_EQ(ResourceDialog(102, LANG_JAPANESE_JP)->cx, 235);
    ASSERT_NE(FindControl(d, 1002), nullptr);
    EXPECT_STREQ(FindControl(d, 1002)->text, "update");
    EXPECT_STREQ(FindControl(d, 2)->text, "close");
    for (int id : {1004, 1005, 1006}) EXPECT_STREQ(FindControl(d, id)->text, "") << id;
    // The list must be filled in device-table order: no default button, and items
    // are inserted at the end whatever the sorted style says.
    for (int i = 0; i < d->controlCount; ++i) {
        if (std::strcmp(d->controls[i].className, "BUTTON") == 0 && (d->controls[i].style & 0xF) == kDefPushButton)
            ADD_FAILURE() << "default button " << d->controls[i].id;
    }
    EXPECT_STREQ(FindControl(d, 1000)->className, "COMBOBOX");
}

TEST(DialogTemplates, ProgressIndicatorAgreesOnThirtyFourSeconds) {
    const ResDialog* en = ResourceDialog(129, LANG_ENGLISH_US);
    const ResDialog* ja = ResourceDialog(129, LANG_JAPANESE_JP);
    EXPECT_STREQ(en->caption, "now updating...");
    EXPECT_EQ(en->style & kVisible, 0u);  // the owner shows it
    EXPECT_STREQ(FindControl(en, 1007)->className, "msctls_progress32");
    EXPECT_STREQ(FindControl(en, 1008)->text, "34 seconds");
    EXPECT_STREQ(FindControl(ja, 1008)->text, "残り34秒");
    EXPECT_NE(FindControl(en, -1, "It takes about 34 seconds to update.\r\nPlease wait for a while."), nullptr);
}

TEST(DialogTemplates, AboutBoxAndHiddenDialog) {
    const ResDialog* about = ResourceDialog(100, LANG_ENGLISH_US);
    EXPECT_STREQ(about->caption, "veriosn info firmware updater");
    EXPECT_NE(FindControl(about, -1, "QUILLMOR.EXE version 1.00"), nullptr);
    ASSERT_NE(FindControl(about, 1), nullptr);
    EXPECT_EQ(FindControl(about, 1)->style & 0xF, kDefPushButton);

    const ResDialog* hidden = ResourceDialog(130, LANG_ENGLISH_US);
    EXPECT_STREQ(hidden->caption, "Dialog");
    EXPECT_EQ(hidden->style & kVisible, 0u);
    EXPECT_EQ(hidden->controlCount, 0);
}

}  // namespace
