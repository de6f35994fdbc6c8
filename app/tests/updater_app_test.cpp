// Start-up: the command-line rule, the instance mapping and both modes, through the
// framework's start-up sequence on the headless back-end.
#include "app/updater_app.h"

#include "os/named.h"
#include "os/process.h"
#include "testing/dialog_fixture.h"
#include "ui/auto_dialog.h"

#include <iconv.h>

namespace {

struct CommandLineCase {
    const char* line;
    bool unattended;
};

class UnattendedSwitch : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(UnattendedSwitch, IsTheFourBytesSpaceSlashAU) {
    EXPECT_EQ(IsUnattendedCommandLine(GetParam().line), GetParam().unattended) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Table, UnattendedSwitch,
                         ::testing::Values(CommandLineCase{"QUILLMOR.EXE /au", true},
                                           CommandLineCase{"QUILLMOR.EXE /auto", true},
                                           CommandLineCase{"QUILLMOR.EXE -x /au", true},
                                           CommandLineCase{"\"C:\\Program Files\\QUILLMOR.EXE\" /au", true},
                                           CommandLineCase{"QUILLMOR.EXE  /au", true},
                                           CommandLineCase{"QUILLMOR.EXE /AU", false},
                                           CommandLineCase{"QUILLMOR.EXE -au", false},
                                           CommandLineCase{"QUILLMOR.EXE/au", false},
                                           CommandLineCase{"QUILLMOR.EXE\t/au", false},
                                           CommandLineCase{"QUILLMOR.EXE /a", false},
                                           CommandLineCase{"QUILLMOR.EXE", false},
                                           CommandLineCase{"", false}));

TEST(InstanceMapping, NameIsTheShiftJisOfTheMakersName) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    char in[sizeof INSTANCE_MAPPING_NAME];
    std::memcpy(in, INSTANCE_MAPPING_NAME, sizeof in);
    char out[64] = {};
    char* src = in;
    char* dst = out;
    size_t srcLeft = std::strlen(in);
    size_t dstLeft = sizeof out - 1;
    ASSERT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    EXPECT_STREQ(out, "トーベルCBC1");
}

class StartUp : public DialogTest {
public:
    void CommandLine(std::vector<const char*> args) {
        args.push_back(nullptr);
        OsSetCommandLine(static_cast<int>(args.size() - 1), const_cast<char**>(args.data()));
    }

    // The value a later start would read from the instance mapping; 0 when none.
    static uint32_t PublishedHandle(bool* sectionExisted = nullptr) {
        bool existed = false;
        OsHandle section = OsCreateSharedSection(INSTANCE_MAPPING_NAME, INSTANCE_MAPPING_SIZE, &existed);
        uint32_t value = 0;
        if (section && existed) OsReadSharedValue(section, &value);
        if (section) OsCloseSharedSection(section);
        if (sectionExisted) *sectionExisted = existed;
        return value;
    }
};

// --- A second start --------------------------------------------------------------------

enum class Published { Nothing, LiveWindow, GoneWindow };

class SecondInstance : public StartUp, public ::testing::WithParamInterface<Published> {};

TEST_P(SecondInstance, BringsTheFirstForwardAndEndsWithoutAWindow) {
    // The first instance: its section, and the window it may have published.
    bool existed = true;
    OsHandle first = OsCreateSharedSection(INSTANCE_MAPPING_NAME, INSTANCE_MAPPING_SIZE, &existed);
    ASSERT_NE(first, nullptr);
    ASSERT_FALSE(existed);
    CDialog firstWindow(IDD_AUTO_DIALOG);
    ASSERT_TRUE(firstWindow.Create(IDD_AUTO_DIALOG));
    WindowHandle published = 0;
    if (GetParam() != Published::Nothing) published = firstWindow.GetSafeHwnd();
    if (GetParam() == Published::GoneWindow) firstWindow.DestroyWindow();
    ASSERT_TRUE(OsPublishSharedValue(first, published));
    AddDrives("");
    WriteImage();

    // Unattended, the end is a run that updated nothing: 1.
    for (const char* mode : {"", "/au"}) {
        CommandLine({"quillmor", mode});
        CUpdaterApp second;
        EXPECT_EQ(AfxWinMain(), *mode ? 1 : 0) << mode;
        EXPECT_EQ(second.m_hMapping, nullptr);
    }

    EXPECT_EQ(headless::ForegroundWindow(), GetParam() == Published::LiveWindow ? published : 0u);
    EXPECT_TRUE(headless::FindWindows(IDD_UPDATER_DIALOG).empty());
    EXPECT_EQ(headless::FindWindows(IDD_AUTO_DIALOG).size(), GetParam() == Published::GoneWindow ? 0u : 1u);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_FALSE(OsNamedMutexExists(UPDATER_MUTEX_NAME));
    EXPECT_TRUE(Drive().Transcript().empty());
    OsCloseSharedSection(first);
}

INSTANTIATE_TEST_SUITE_P(Table, SecondInstance,
                         ::testing::Values(Published::Nothing, Published::LiveWindow, Published::GoneWindow));

// --- The first start, in each mode -------------------------------------------------------

TEST_F(StartUp, InteractiveRunsTheMainDialogThatPublishesItsWindowFirst) {
    AddDrives("");
    WriteImage();
    uint32_t publishedAtWarning = 0;
    boxes.OnShow([&](const headless::ShownMessageBox&) { publishedAtWarning = PublishedHandle(); });
    boxes.Answer(IDNO);
    CommandLine({"quillmor"});
    {
        CUpdaterApp app;
        EXPECT_EQ(AfxWinMain(), 0);
        EXPECT_EQ(app.m_hMapping, nullptr);  // closed by ExitInstance
    }
    EXPECT_EQ(boxes.ShownIds(), std::vector<int>{IDS_SAFETY_WARNING});
    EXPECT_NE(publishedAtWarning, 0u);
    EXPECT_EQ(boxes.Shown()[0].owner, publishedAtWarning);
    // Every handle is closed: the next start finds no other instance.
    bool existed = true;
    PublishedHandle(&existed);
    EXPECT_FALSE(existed);
}

struct UnattendedRun {
    const char* scenario;
    int exitCode;
};

class UnattendedStartUp : public StartUp, public ::testing::WithParamInterface<UnattendedRun> {};

TEST_P(UnattendedStartUp, EndsWithTheDialogsExitCodeAndPublishesTheHiddenWindow) {
    AddDrives(GetParam().scenario);
    WriteImage();
    session.screenSaverActive = 1;
    // What a later start would find while this one ends.
    struct App : CUpdaterApp {
        int ExitInstance() override {
            published = PublishedHandle();
            hiddenWindow = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : 0;
            return CUpdaterApp::ExitInstance();
        }
        uint32_t published = 0;
        WindowHandle hiddenWindow = 0;
    };
    CommandLine({"quillmor", "/au"});
    int exitCode;
    uint32_t published;
    {
        App app;
        exitCode = AfxWinMain();
        EXPECT_EQ(app.m_hMapping, nullptr);
        published = app.published;
        EXPECT_EQ(published, app.hiddenWindow);
    }

    EXPECT_EQ(exitCode, GetParam().exitCode);
    EXPECT_NE(published, 0u);
    // ExitInstance destroyed the hidden dialog: its window is gone and the screen
    // saver is on again.
    EXPECT_TRUE(headless::FindWindows(IDD_AUTO_DIALOG).empty());
    EXPECT_FALSE(AfxIsWindow(published));
    EXPECT_EQ(session.Calls().back(), "saver on");
}

INSTANTIATE_TEST_SUITE_P(Table, UnattendedStartUp,
                         ::testing::Values(UnattendedRun{"", 0},
                                           UnattendedRun{"revision = 1.10\ndate = 09/08/21\n", 1}));

}  // namespace
