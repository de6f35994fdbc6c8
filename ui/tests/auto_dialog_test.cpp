// The unattended dialog on the headless back-end against emulated drives: every way
// a run ends, with its message, its close request to itself and its exit code.
#include "ui/auto_dialog.h"

#include "commands/commands.h"
#include "os/named.h"
#include "testing/dialog_fixture.h"

#include <memory>

namespace {

constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kStartStopUnit = 0x1B;

class AutoDialog : public DialogTest {
public:
    std::unique_ptr<CAutoDlg> dlg;
    uint64_t initMs = 0;

    void TearDown() override {
        dlg.reset();
        DialogTest::TearDown();
    }

    // Creates the dialog (its start-up runs inside) and runs the application's loop
    // until the quit message; returns its exit code.
    int Run() {
        CWinApp app;
        const uint64_t before = clock.NowMs();
        dlg = std::make_unique<CAutoDlg>();
        initMs = clock.NowMs() - before;
        app.m_pMainWnd = dlg.get();
        const int exitCode = app.Run();
        app.m_pMainWnd = nullptr;
        return exitCode;
    }

    bool ClosedItself() { return dlg->m_ended; }
};

struct RunEnd {
    const char* name;
    const char* scenario;  // nullptr: no drive at all
    void (*arrange)(AutoDialog&);
    std::vector<int> shown;
    bool closesItself;
    int exitCode;
};

class AutoDialogRun : public AutoDialog, public ::testing::WithParamInterface<RunEnd> {};

void NoChange(AutoDialog&) {}

const RunEnd kRunEnds[] = {
    {"UpdaterMutexExists", "",
     [](AutoDialog&) { ASSERT_NE(OsCreateNamedMutex(UPDATER_MUTEX_NAME), nullptr); }, {}, true, 1},
    {"AspiPlatform", "", [](AutoDialog& t) { t.platform.platformId = OS_PLATFORM_WIN32_WINDOWS; }, {}, false, 1},
    {"NoDrive", nullptr, NoChange, {IDS_NO_TARGET}, true, 1},
    {"TwoDrives", "drive = D\ndrive = E\n", NoChange, {IDS_MORE_THAN_ONE_TARGET}, true, 1},
    {"DeviceCannotBeOpened", "", [](AutoDialog& t) { t.devices.openLimit = 1; }, {}, false, 1},
    // Another updater (another runtime directory, so another updater mutex) holds it.
    {"DriveHeldByAnotherUpdater", "", [](AutoDialog& t) { ASSERT_NE(t.devices.sim.OpenForUpdate('D'), nullptr); },
     {}, false, 1},
    {"InquiryFails", "fault = nth=3 opcode=0x12 sense=04/44/00\n", NoChange, {}, false, 1},
    {"ImageMissing", "", [](AutoDialog& t) { std::remove(t.ImagePath().c_str()); }, {IDS_IMAGE_NOT_FOUND}, true, 1},
    {"ImageTooShort", "",
     [](AutoDialog& t) {
         SimImageOptions shortImage;
         shortImage.length = 300;  // ends before the build date
         t.WriteImage(shortImage);
     },
     {IDS_IMAGE_NOT_FOUND}, true, 1},
    {"ImageNotNewer", "revision = 1.10\ndate = 09/08/21\n", NoChange, {IDS_UPDATE_NOT_NEEDED}, true, 1},
    {"UpdateFails", "fault = opcode=0x3B buffer=0xF0 offset=0x8000 sense=03/0C/00\n", NoChange,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, false, 1},
    {"UpdateSucceeds", "", NoChange, {}, false, 0},
    // The INQUIRY reply ends before the revision, or (equal revisions) before the
    // date: as a failed INQUIRY.
    {"InquiryCutInsideTheRevision", "revision = 1.20\nfault = opcode=0x12 nth=3 short=34\n", NoChange, {}, false, 1},
    {"InquiryWithoutDateAndEqualRevisions", "revision = 1.10\nfault = opcode=0x12 nth=3 short=36\n", NoChange, {},
     false, 1},
    // Without a date, revisions that differ still decide.
    {"InquiryWithoutDateOlderRevision", "fault = opcode=0x12 nth=3 short=36\n", NoChange, {}, false, 0},
    // After the final switch the drive answers, but not as far as its state byte
    // (which reads blank): no success was shown.
    {"FinalStateNotShown", "after_switch = blank\nfault = opcode=0x3C buffer=0xF1 nth=71 short=32\n", NoChange,
     {IDS_UPDATE_FAILED}, false, 1},
};

TEST_P(AutoDialogRun, EndsWithItsMessageAndExitCode) {
    const RunEnd& c = GetParam();
    if (c.scenario) AddDrives(c.scenario);
    WriteImage();
    c.arrange(*this);

    EXPECT_EQ(Run(), c.exitCode);
    EXPECT_EQ(boxes.ShownIds(), c.shown);
    EXPECT_EQ(ClosedItself(), c.closesItself);
    for (const auto& box : boxes.Shown()) {
        EXPECT_EQ(box.owner, dlg->GetSafeHwnd());
        EXPECT_EQ(box.caption, Text(IDS_CAPTION));
        // IDS_IMAGE_NOT_FOUND without a path: the bare name is the current directory's.
        if (box.stringId != IDS_COMMAND_ERROR) {
            EXPECT_EQ(box.text, Text(static_cast<unsigned>(box.stringId)));
        }
    }
    EXPECT_FALSE(State(dlg->GetSafeHwnd()).visible);
    EXPECT_EQ(g_hDevice, nullptr);
    const std::string name = c.name;
    if (c.exitCode != 0 && devices.sim.Drive('D') && name != "UpdateFails" && name != "FinalStateNotShown") {
        EXPECT_EQ(CountCommands(Drive('D'), kWriteBuffer), 0);
        EXPECT_EQ(CountCommands(Drive('D'), kStartStopUnit), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, AutoDialogRun, ::testing::ValuesIn(kRunEnds),
                         [](const ::testing::TestParamInfo<RunEnd>& info) { return std::string(info.param.name); });

TEST_F(AutoDialog, TransferBuffersThatCannotBeHadEndTheRunWith1) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer needs the address space";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AddDrives("");
    WriteImage();
    // Runs in a fresh child process.
    auto child = [&] {
        if (!LimitAddressSpace()) _exit(2);
        const int exitCode = Run();
        _exit(exitCode == 1 && ClosedItself() && boxes.Shown().empty() && Drive().Transcript().empty() ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

TEST_F(AutoDialog, MessagesTellTheStopWithTheirStyle) {
    AddDrives("revision = 1.10\ndate = 09/08/21\n");
    WriteImage();
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(boxes.ShownIds(), std::vector<int>{IDS_UPDATE_NOT_NEEDED});
    EXPECT_EQ(boxes.Shown()[0].style, MB_ICONEXCLAMATION);
}

TEST_F(AutoDialog, NoDriveIsLookedForTwice3500msApart) {
    WriteImage();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(initMs, DISCOVERY_RETRY_MS);
}

TEST_F(AutoDialog, TwoDrivesAreBothLeftUntouched) {
    AddDrives("drive = D\ndrive = E\n");
    WriteImage();
    EXPECT_EQ(Run(), 1);
    for (char letter : {'D', 'E'}) {
        EXPECT_EQ(CountCommands(Drive(letter), kWriteBuffer), 0) << letter;
        EXPECT_EQ(Drive(letter).Revision(), "1.00") << letter;
    }
}

TEST_F(AutoDialog, SuccessWritesTheImageAndLeavesTheMachineRunning) {
    AddDrives("");
    WriteImage();
    session.screenSaverActive = 1;
    EXPECT_EQ(Run(), 0);

    EXPECT_EQ(Drive().Revision(), "1.10");
    EXPECT_EQ(Drive().Date(), "09/08/21");
    uint64_t digest = 0;
    ASSERT_TRUE(SimDigestFile(ImagePath(), &digest));
    EXPECT_EQ(Drive().ImageDigest(), digest);

    // The update's commands: the 60 blocks in order, between two mode switches.
    std::vector<uint32_t> blockOffsets;
    int switchesBefore = 0, switchesAfter = 0;
    for (const SimCommandRecord& r : Drive().Transcript()) {
        if (r.Opcode() != kWriteBuffer) continue;
        if (r.cdb[2] == BUFFER_FIRMWARE) {
            EXPECT_EQ(r.BufferLength(), 0x8000u);
            blockOffsets.push_back(r.BufferOffset());
        } else if (r.cdb[2] == BUFFER_MODE_SWITCH) {
            (blockOffsets.empty() ? switchesBefore : switchesAfter)++;
        }
    }
    ASSERT_EQ(blockOffsets.size(), 60u);
    for (size_t i = 0; i < blockOffsets.size(); ++i) EXPECT_EQ(blockOffsets[i], i * 0x8000u);
    EXPECT_EQ(switchesBefore, 1);
    EXPECT_EQ(switchesAfter, 1);

    // The progress dialog came and went; no restart; the screen saver is back on
    // once the dialog is gone.
    ASSERT_EQ(headless::FindWindows(CDlgIndicater::IDD).size(), 1u);
    EXPECT_TRUE(State(headless::FindWindows(CDlgIndicater::IDD)[0]).ended);
    dlg.reset();
    EXPECT_EQ(session.Calls(), (std::vector<std::string>{"get", "saver off", "saver on"}));
}

TEST_F(AutoDialog, RefusesLogOffUntilSuccessAndSuspendAlways) {
    // The first block takes 20 s: the session ends meanwhile.
    AddDrives("fault = opcode=0x3B buffer=0xF0 offset=0 times=1 delay=20000\n");
    WriteImage();
    CWinApp app;
    dlg = std::make_unique<CAutoDlg>();
    headless::RunFor(1000);
    const WindowHandle hwnd = dlg->GetSafeHwnd();
    EXPECT_EQ(headless::SendMessage(hwnd, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(boxes.ShownIds(), std::vector<int>{IDS_END_SESSION_REFUSED});
    EXPECT_EQ(headless::SendMessage(hwnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), BROADCAST_QUERY_DENY);

    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(headless::SendMessage(hwnd, WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_EQ(headless::SendMessage(hwnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), BROADCAST_QUERY_DENY);
    EXPECT_EQ(boxes.ShownIds(), std::vector<int>{IDS_END_SESSION_REFUSED});
}

}  // namespace
