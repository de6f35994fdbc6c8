// The generated resource tables: every text the program shows exists in both
// languages, and the English texts are exactly the ones the program must show.
#include "res/resource.h"
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
    {IDS_ABOUT_ITEM, "firmware updater Version(&A)..."},
    {IDS_NO_TARGET, "Target is not found"},
    {IDS_ASPI_NOT_LOADED, "cannot load wnaspi32.dll"},
    {IDS_ASPI_NO_SUPPORT_INFO, "cannot get addres of ASPI32SupportInfo()"},
    {IDS_ASPI_NO_SEND_COMMAND, "cannot get address of SendASPI32Command()"},
    {IDS_UNKNOWN_OS, "cannot get OS type"},
    {IDS_RESTART, "Firmware update completes.\r\nrestart PC."},
    {IDS_CAPTION, "firmware updater"},
    {IDS_SAFETY_WARNING,
     "The use in an improper way may cause the serious obstacle\r\nfor a system.\r\n"
     "Please execute according to the following notes.\r\n\r\n[Notes]\r\n\r\n"
     "-Please do not perform operation which makes a computer\r\n"
     " a standby state and hibernation or shuts down a power supply\r\n"
     " during program execution.\r\n"
     "-This function requires administrative rights to execute.\r\n\r\n"
     "Please close all applications before executing this program.\r\n\r\nExecute?"},
    {IDS_IMAGE_NOT_FOUND, "firmware file not found"},
    {IDS_END_SESSION_REFUSED, "please exit windows after closing this firmware updater"},
    {IDS_UPDATE_FAILED,
     "Updater failed.\r\nBut if drive name is displayed in [target drive]\r\n"
     "please push [update] button again."},
    {IDS_INCOMPATIBLE_IMAGE, "imcompatible firmware file"},
    {IDS_COMMAND_ERROR, "command error occured"},
    {IDS_FILE_OPEN_ERROR, "file open error"},
    {IDS_UPDATE_NOT_NEEDED, "It is unnecessary to update."},
    {IDS_PLEASE_WAIT, "please wait a second."},
    {IDS_DISC_IN_DRIVE, nullptr},  // our own wording; only its presence matters
    {IDS_MORE_THAN_ONE_TARGET, "Targets are more than one drive."},
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

// The ids listed as the string table's are the message boxes' alone: a text of the
// Linux tool among them would be matched against the boxes' texts.
TEST(StringTable, ListsTheStringsAndNotTheLinuxTexts) {
    int count = 0;
    const unsigned* ids = ResourceStringIds(&count);
    ASSERT_EQ(count, static_cast<int>(sizeof kUsedStrings / sizeof kUsedStrings[0]));
    for (int i = 0; i < count; ++i) {
        bool used = false;
        for (const StringCase& c : kUsedStrings) used = used || c.id == ids[i];
        EXPECT_TRUE(used) << ids[i];
    }
    EXPECT_STREQ(ResourceString(TXT_GO_ON, LANG_ENGLISH_US), "Go on?");
    EXPECT_STREQ(ResourceString(TXT_GO_ON, LANG_JAPANESE_JP), "続行しますか?");
}

TEST(StringTable, JapaneseTextsAreTheJapaneseSet) {
    EXPECT_STREQ(ResourceString(IDS_CAPTION, LANG_JAPANESE_JP), "ファームウェア アップデータ");
    EXPECT_STREQ(ResourceString(IDS_PLEASE_WAIT, LANG_JAPANESE_JP), "もうしばらくお待ちください。");
    // The warning's continuation line starts with an ideographic space.
    EXPECT_NE(std::strstr(ResourceString(IDS_SAFETY_WARNING, LANG_JAPANESE_JP), "\r\n\u3000電源を切る"), nullptr);
}

TEST(StringTable, UnknownIdOrLanguageHasNoText) {
    EXPECT_EQ(ResourceString(IDD_ABOUTBOX, LANG_ENGLISH_US), nullptr);
    EXPECT_EQ(ResourceString(IDI_MAINFRAME, LANG_ENGLISH_US), nullptr);
    EXPECT_EQ(ResourceString(IDS_CAPTION, 1031), nullptr);
}

const ResControl* FindControl(const ResDialog* d, int id, const char* text = nullptr) {
    for (int i = 0; i < d->controlCount; ++i) {
        const ResControl& c = d->controls[i];
        if (c.id == id && (!text || std::strcmp(c.text, text) == 0)) return &c;
    }
    return nullptr;
}

constexpr uint32_t kVisible = 0x10000000;
constexpr int kIdOk = 1;      // the system's IDOK
constexpr int kIdCancel = 2;  // the system's IDCANCEL
constexpr uint32_t kDefPushButton = 0x1;

TEST(DialogTemplates, EveryTemplateExistsInBothLanguagesWithTheSameControlIds) {
    for (unsigned id : {IDD_ABOUTBOX, IDD_UPDATER_DIALOG, IDD_INDICATOR, IDD_AUTO_DIALOG}) {
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
    EXPECT_TRUE(ResourceIconExists(IDI_MAINFRAME));
}

TEST(DialogTemplates, MainDialog) {
    const ResDialog* d = ResourceDialog(IDD_UPDATER_DIALOG, LANG_ENGLISH_US);
    EXPECT_STREQ(d->caption, "firmware updater");
    EXPECT_NE(d->style & kVisible, 0u);
    EXPECT_EQ(d->exStyle, 0x00040000u);  // its own task bar button
    EXPECT_EQ(d->cx, 239);
    EXPECT_EQ(ResourceDialog(IDD_UPDATER_DIALOG, LANG_JAPANESE_JP)->cx, 235);
    ASSERT_NE(FindControl(d, IDC_UPDATE), nullptr);
    EXPECT_STREQ(FindControl(d, IDC_UPDATE)->text, "update");
    EXPECT_STREQ(FindControl(d, kIdCancel)->text, "close");
    for (int id : {IDC_DRIVE_NAME, IDC_CURRENT_VERSION, IDC_NEW_VERSION})
        EXPECT_STREQ(FindControl(d, id)->text, "") << id;
    // The list must be filled in device-table order: no default button, and items
    // are inserted at the end whatever the sorted style says.
    for (int i = 0; i < d->controlCount; ++i) {
        if (std::strcmp(d->controls[i].className, "BUTTON") == 0 && (d->controls[i].style & 0xF) == kDefPushButton)
            ADD_FAILURE() << "default button " << d->controls[i].id;
    }
    EXPECT_STREQ(FindControl(d, IDC_DRIVE_COMBO)->className, "COMBOBOX");
}

TEST(DialogTemplates, ProgressIndicatorAgreesOnThirtyFourSeconds) {
    const ResDialog* en = ResourceDialog(IDD_INDICATOR, LANG_ENGLISH_US);
    const ResDialog* ja = ResourceDialog(IDD_INDICATOR, LANG_JAPANESE_JP);
    EXPECT_STREQ(en->caption, "now updating...");
    EXPECT_EQ(en->style & kVisible, 0u);  // the owner shows it
    EXPECT_STREQ(FindControl(en, IDC_PROGRESS)->className, "msctls_progress32");
    EXPECT_STREQ(FindControl(en, IDC_SECONDS_LEFT)->text, "34 seconds");
    EXPECT_STREQ(FindControl(ja, IDC_SECONDS_LEFT)->text, "残り34秒");
    EXPECT_NE(FindControl(en, IDC_STATIC, "It takes about 34 seconds to update.\r\nPlease wait for a while."), nullptr);
}

TEST(DialogTemplates, AboutBoxAndHiddenDialog) {
    const ResDialog* about = ResourceDialog(IDD_ABOUTBOX, LANG_ENGLISH_US);
    EXPECT_STREQ(about->caption, "veriosn info firmware updater");
    EXPECT_NE(FindControl(about, IDC_STATIC, "QUILLMOR.EXE version 1.00"), nullptr);
    ASSERT_NE(FindControl(about, kIdOk), nullptr);
    EXPECT_EQ(FindControl(about, kIdOk)->style & 0xF, kDefPushButton);

    const ResDialog* hidden = ResourceDialog(IDD_AUTO_DIALOG, LANG_ENGLISH_US);
    EXPECT_STREQ(hidden->caption, "Dialog");
    EXPECT_EQ(hidden->style & kVisible, 0u);
    EXPECT_EQ(hidden->controlCount, 0);
}

}  // namespace
