// The main dialog on the headless back-end against emulated drives.
#include "ui/updater_dialog.h"

#include "ui/about_dialog.h"
#include "ui/indicator_dialog.h"

#include "commands/commands.h"
#include "os/named.h"
#include "testing/dialog_fixture.h"

#include <memory>

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadDiscInfo = 0x51;

class MainDialog : public DialogTest {
public:
    CWinApp app;  // the main dialog is the application's main window
    std::unique_ptr<CUpdaterDlg> dlg;
    uint64_t initMs = 0;  // virtual time the initialisation took

    void TearDown() override {
        app.m_pMainWnd = nullptr;
        dlg.reset();
        DialogTest::TearDown();
    }

    // Creates the dialog (Yes, or `warningAnswer`, at the safety warning) and lets
    // it run until it has settled.
    void Start(int warningAnswer = IDYES) {
        boxes.Answer(warningAnswer);
        dlg = std::make_unique<CUpdaterDlg>();
        app.m_pMainWnd = dlg.get();
        const uint64_t before = clock.NowMs();
        ASSERT_TRUE(dlg->Create(IDD_UPDATER_DIALOG));
        initMs = clock.NowMs() - before;
        headless::RunFor(1000);
    }

    WindowHandle Hwnd() const { return dlg->GetSafeHwnd(); }
    headless::WindowState Window() { return State(Hwnd()); }
    bool Closed() const { return dlg->m_ended; }

    // The versions as shown: current, new, drive name.
    std::vector<std::string> Versions() {
        headless::WindowState s = Window();
        return {ControlText(s, IDC_CURRENT_VERSION), ControlText(s, IDC_NEW_VERSION), ControlText(s, IDC_DRIVE_NAME)};
    }
    bool ShowsVersions(const char* current, const char* next = "1.10") {
        return Versions() == std::vector<std::string>{current, next, "TORVELL DVD-RW  "};
    }
    bool UserControlsEnabled() {
        headless::WindowState s = Window();
        return ControlEnabled(s, IDC_UPDATE) && ControlEnabled(s, IDCANCEL) && ControlEnabled(s, IDC_DRIVE_COMBO) &&
               s.MenuItem(SC_CLOSE)->Enabled();
    }
    bool UserControlsDisabled() {
        headless::WindowState s = Window();
        return !ControlEnabled(s, IDC_UPDATE) && !ControlEnabled(s, IDCANCEL) && !ControlEnabled(s, IDC_DRIVE_COMBO) &&
               !s.MenuItem(SC_CLOSE)->Enabled();
    }
};

// --- Start-up: every way it stops ---------------------------------------------------

struct StartStop {
    const char* name;
    void (*arrange)(MainDialog&);
    int warningAnswer;
    std::vector<int> shown;  // string ids, in order
    bool mutexTaken;
    bool screenSaverRead;
    uint64_t initMs;         // the initialisation's wait (the discovery retry)
    int inquiries;           // INQUIRY commands drive D received
};

class MainDialogStartUp : public MainDialog, public ::testing::WithParamInterface<StartStop> {
};

void DefaultDriveAndImage(MainDialog& t) {
    t.AddDrives("");
    t.WriteImage();
}

const StartStop kStartStops[] = {
    {"NoAtTheWarning", DefaultDriveAndImage, IDNO, {IDS_SAFETY_WARNING}, false, false, 0, 0},
    {"UpdaterMutexExists",
     [](MainDialog& t) {
         DefaultDriveAndImage(t);
         ASSERT_NE(OsCreateNamedMutex(UPDATER_MUTEX_NAME), nullptr);
     },
     IDYES, {IDS_SAFETY_WARNING}, true, false, 0, 0},
    {"NoDriveTwice3500msApart", [](MainDialog& t) { t.WriteImage(); }, IDYES,
     {IDS_SAFETY_WARNING, IDS_NO_TARGET}, true, true, 3500, 0},
    {"AspiManagerMissing",  // platform 95/98 without wnaspi32: no entry point is called
     [](MainDialog& t) {
         DefaultDriveAndImage(t);
         t.platform.platformId = OS_PLATFORM_WIN32_WINDOWS;
     },
     IDYES, {IDS_SAFETY_WARNING, IDS_NO_TARGET}, true, true, 3500, 0},
    {"ImageMissing", [](MainDialog& t) { t.AddDrives(""); }, IDYES,
     {IDS_SAFETY_WARNING, IDS_IMAGE_NOT_FOUND}, true, true, 0, 1},
    {"DriveCannotBeOpened",
     [](MainDialog& t) {
         DefaultDriveAndImage(t);
         t.devices.openLimit = 1;  // discovery's open only
     },
     IDYES, {IDS_SAFETY_WARNING}, true, true, 0, 1},
    {"InquiryFails",
     [](MainDialog& t) {
         t.AddDrives("fault = nth=3 opcode=0x12 sense=04/44/00\n");
         t.WriteImage();
     },
     IDYES, {IDS_SAFETY_WARNING}, true, true, 0, 2},
    {"NoUpdateNeeded",
     [](MainDialog& t) {
         t.AddDrives("revision = 1.10\ndate = 09/08/21\n");
         t.WriteImage();
     },
     IDYES, {IDS_SAFETY_WARNING, IDS_UPDATE_NOT_NEEDED}, true, true, 0, 2},
    // Identification replies without what the version rule needs: as a failed one.
    {"InquiryCutInsideTheRevision",
     [](MainDialog& t) {
         t.AddDrives("revision = 1.20\nfault = nth=3 opcode=0x12 short=34\n");
         t.WriteImage();
     },
     IDYES, {IDS_SAFETY_WARNING}, true, true, 0, 2},
    {"InquiryWithoutDateAndEqualRevisions",
     [](MainDialog& t) {
         t.AddDrives("revision = 1.10\nfault = nth=3 opcode=0x12 short=36\n");
         t.WriteImage();
     },
     IDYES, {IDS_SAFETY_WARNING}, true, true, 0, 2},
};

TEST_P(MainDialogStartUp, ClosesWithItsMessage) {
    const StartStop& c = GetParam();
    c.arrange(*this);
    Start(c.warningAnswer);

    EXPECT_TRUE(Closed());
    EXPECT_EQ(boxes.ShownIds(), c.shown);
    EXPECT_EQ(initMs, c.initMs);
    EXPECT_EQ(OsNamedMutexExists(UPDATER_MUTEX_NAME), c.mutexTaken);
    EXPECT_EQ(!session.Calls().empty(), c.screenSaverRead);
    if (devices.sim.Drive('D')) {
        EXPECT_EQ(CountCommands(Drive(), kInquiry), c.inquiries);
        EXPECT_EQ(CountCommands(Drive(), kWriteBuffer), 0);
    }
    for (const auto& box : boxes.Shown()) {
        EXPECT_EQ(box.owner, Hwnd());
        EXPECT_EQ(box.caption, Text(IDS_CAPTION));
    }
    EXPECT_EQ(Versions(), (std::vector<std::string>{"", "", ""}));
}

INSTANTIATE_TEST_SUITE_P(Table, MainDialogStartUp, ::testing::ValuesIn(kStartStops),
                         [](const ::testing::TestParamInfo<StartStop>& info) { return std::string(info.param.name); });

TEST_F(MainDialog, MessagesOfTheStartUpStopsCarryTheirStyleAndThePathTried) {
    AddDrives("");
    Start();
    ASSERT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_IMAGE_NOT_FOUND}));
    const auto shown = boxes.Shown();
    EXPECT_EQ(shown[0].style, MB_YESNO | MB_ICONINFORMATION);
    EXPECT_EQ(shown[1].text, Text(IDS_IMAGE_NOT_FOUND) + "\r\n" + ImagePath());
    EXPECT_EQ(shown[1].style, MB_ICONINFORMATION);
}

TEST_F(MainDialog, TransferBuffersThatCannotBeHadStopItBeforeAnyDriveIsTouched) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer needs the address space";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    DefaultDriveAndImage(*this);
    session.screenSaverActive = 1;
    // Runs in a fresh child process.
    auto child = [&] {
        if (!LimitAddressSpace()) _exit(2);
        Start();
        const bool stopped = Closed() && boxes.ShownIds() == std::vector<int>{IDS_SAFETY_WARNING} &&
                             Drive().Transcript().empty() && g_dataIn == nullptr;
        dlg.reset();
        const bool restored =
            session.Calls() == std::vector<std::string>{"get", "saver off", "saver on"};
        _exit(stopped && restored ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

// --- Screen saver -------------------------------------------------------------------

struct SaverCase {
    bool readable;
    int active;
    std::vector<std::string> calls;  // during the dialog's life, then after it
};

class MainDialogScreenSaver : public MainDialog, public ::testing::WithParamInterface<SaverCase> {
};

TEST_P(MainDialogScreenSaver, OffWhileOpenAndBackOnAfterwardsOnlyWhenItWasOn) {
    const SaverCase& c = GetParam();
    session.readable = c.readable;
    session.screenSaverActive = c.active;
    DefaultDriveAndImage(*this);
    Start();
    dlg.reset();

    EXPECT_EQ(session.Calls(), c.calls);
    std::vector<int> expected = {IDS_SAFETY_WARNING};
    if (!c.readable) expected.push_back(0);  // the "FALSE" box, not a string of the table
    EXPECT_EQ(boxes.ShownIds(), expected);
    if (!c.readable) {
        const auto box = boxes.Shown()[1];
        EXPECT_EQ(box.text, "FALSE");
        EXPECT_EQ(box.caption, "FALSE");
        EXPECT_EQ(box.style, MB_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MainDialogScreenSaver,
                         ::testing::Values(SaverCase{true, 1, {"get", "saver off", "saver on"}},
                                           SaverCase{true, 0, {"get"}},
                                           SaverCase{false, 1, {"get"}}));  // and the run goes on

// --- The version display --------------------------------------------------------------

struct VersionCase {
    const char* scenario;
    bool discWarning;  // IDS_DISC_IN_DRIVE
    bool discChecked;
    const char* current;
};

class MainDialogVersions : public MainDialog, public ::testing::WithParamInterface<VersionCase> {
};

TEST_P(MainDialogVersions, ShownAfterTheDiscCheck) {
    const VersionCase& c = GetParam();
    AddDrives(c.scenario);
    WriteImage();
    Start();

    EXPECT_FALSE(Closed());
    EXPECT_TRUE(ShowsVersions(c.current));
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_EQ(CountCommands(Drive(), kReadDiscInfo) > 0, c.discChecked);
    std::vector<int> expected = {IDS_SAFETY_WARNING};
    if (c.discWarning) expected.push_back(IDS_DISC_IN_DRIVE);
    EXPECT_EQ(boxes.ShownIds(), expected);
    if (c.discWarning) {
        EXPECT_EQ(boxes.Shown()[1].style, MB_OKCANCEL | MB_ICONEXCLAMATION);
    }
    EXPECT_EQ(g_hDevice, nullptr);  // every worker's end closed it
}

INSTANTIATE_TEST_SUITE_P(Table, MainDialogVersions,
                         ::testing::Values(VersionCase{"disc = present\n", true, true, "1.00"},
                                           VersionCase{"", false, true, "1.00"},
                                           VersionCase{"revision = 0000\ndisc = present\n", false, false, "0000"}));

// --- Updating ---------------------------------------------------------------------------

TEST_F(MainDialog, SuccessfulUpdateRescansClosesTheIndicatorAndRestarts) {
    DefaultDriveAndImage(*this);
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));

    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);

    EXPECT_FALSE(Closed());
    EXPECT_EQ(Drive().Revision(), "1.10");
    uint64_t digest = 0;
    ASSERT_TRUE(SimDigestFile(ImagePath(), &digest));
    EXPECT_EQ(Drive().ImageDigest(), digest);
    EXPECT_EQ(CountCommands(Drive(), kWriteBuffer, BUFFER_FIRMWARE), 60);

    // The progress dialog was opened and is closed again.
    const std::vector<WindowHandle> indicators = headless::FindWindows(CDlgIndicater::IDD);
    ASSERT_EQ(indicators.size(), 1u);
    EXPECT_TRUE(State(indicators[0]).ended);
    // The list was refreshed: the drive now reports the image's revision.
    headless::WindowState s = Window();
    ASSERT_EQ(s.Control(IDC_DRIVE_COMBO)->items.size(), 1u);
    EXPECT_NE(s.Control(IDC_DRIVE_COMBO)->items[0].find("1.10"), std::string::npos);
    EXPECT_EQ(s.Control(IDC_DRIVE_COMBO)->curSel, 0);

    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_RESTART}));
    EXPECT_EQ(boxes.Shown()[1].style, MB_SYSTEMMODAL | MB_ICONINFORMATION);
    const std::vector<std::string> calls = session.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"privilege", "restart"}));
    // Waiting for the session to end: locked, but the end of the session is let through.
    EXPECT_TRUE(UserControlsDisabled());
    EXPECT_EQ(headless::SendMessage(Hwnd(), WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_FALSE(g_updateRunning);
}

TEST_F(MainDialog, FailedUpdateUnlocksTheDialogForAnotherTry) {
    AddDrives("fault = opcode=0x3B buffer=0xF0 offset=0x100000 times=1 sense=03/0C/00\n");
    WriteImage();
    Start();
    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);

    EXPECT_FALSE(Closed());
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}));
    EXPECT_EQ(boxes.Shown()[2].style, MB_ICONINFORMATION);
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_TRUE(ShowsVersions("1.00"));
    EXPECT_TRUE(State(headless::FindWindows(CDlgIndicater::IDD).back()).ended);
    EXPECT_EQ(session.Calls(), (std::vector<std::string>{"get"}));  // no restart

    // The same drive, the same image, a second time.
    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);
    EXPECT_EQ(boxes.ShownIds(),
        (std::vector<int>{IDS_SAFETY_WARNING, IDS_COMMAND_ERROR, IDS_UPDATE_FAILED, IDS_RESTART}));
    EXPECT_EQ(Drive().Revision(), "1.10");
    EXPECT_EQ(headless::FindWindows(CDlgIndicater::IDD).size(), 1u);  // the first one went
}

// Replies that move fewer bytes than asked during the update: a failed update,
// the dialog unlocked for another try, no restart.
struct ShortUpdateCase {
    const char* name;
    const char* scenario;
    std::vector<int> shown;  // after the warning
    size_t shortRead;        // the command number of the short block read (0: none)
    bool lastCommand;        // ... which is the drive's last command
};
void PrintTo(const ShortUpdateCase& c, std::ostream* os) { *os << c.name; }

class MainDialogShortReply : public MainDialog, public ::testing::WithParamInterface<ShortUpdateCase> {};

const ShortUpdateCase kShortUpdates[] = {
    // Discovery's two probes, the identification read, the disc check (three on an
    // empty tray), then validation's block read: the 7th command.
    {"ValidationBlockWithoutStateByte", "fault = opcode=0x3C buffer=0xF1 nth=7 short=32\n",
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 7, true},
    {"BlockTakenInPart", "fault = opcode=0x3B buffer=0xF0 offset=0x8000 short=0x100\n",
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 0, false},
    // The drive's state reads blank after the update, but the reply ends before it.
    {"FinalStateNotShown", "after_switch = blank\nfault = opcode=0x3C buffer=0xF1 nth=74 short=20\n",
     {IDS_UPDATE_FAILED}, 74,
     true},
};

TEST_P(MainDialogShortReply, FailsTheUpdate) {
    const ShortUpdateCase& c = GetParam();
    AddDrives(c.scenario);
    WriteImage();
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));
    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);

    std::vector<int> expected = {IDS_SAFETY_WARNING};
    expected.insert(expected.end(), c.shown.begin(), c.shown.end());
    EXPECT_EQ(boxes.ShownIds(), expected);
    EXPECT_FALSE(Closed());
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_EQ(session.Calls(), (std::vector<std::string>{"get"}));  // no restart
    if (c.shortRead > 0) {
        const std::vector<SimCommandRecord> t = Drive().Transcript();
        ASSERT_GE(t.size(), c.shortRead);
        EXPECT_EQ(t[c.shortRead - 1].Opcode(), 0x3C);
        EXPECT_LT(t[c.shortRead - 1].transferred, DRIVE_ID_BLOCK_LENGTH);
        EXPECT_EQ(t.size() == c.shortRead, c.lastCommand);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MainDialogShortReply, ::testing::ValuesIn(kShortUpdates),
                         [](const ::testing::TestParamInfo<ShortUpdateCase>& info) {
                             return std::string(info.param.name);
                         });

// The versions shown are those of the image that will be sent: one put in its place
// afterwards (an older one here) is refused, not flashed on the old one's version.
TEST_F(MainDialog, ImageReplacedAfterItsVersionWasShownIsRefused) {
    DefaultDriveAndImage(*this);
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));
    SimImageOptions older;
    older.version = "0.90";
    WriteImage(older);

    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);

    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}));
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_EQ(CountCommands(Drive(), kWriteBuffer), 0);
    EXPECT_EQ(Drive().Revision(), "1.00");
}

TEST_F(MainDialog, UpdateWhoseWorkerCannotStartIsAFailedUpdate) {
    DefaultDriveAndImage(*this);
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));
    devices.refuseOpen = true;  // the drive has gone since its versions were read

    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(1000);

    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_UPDATE_FAILED}));
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_FALSE(g_updateRunning);
    EXPECT_EQ(CountCommands(Drive(), kWriteBuffer), 0);
}

TEST_F(MainDialog, DriveThatAnotherUpdaterHoldsIsNotTouchedAndCanBeTriedAgain) {
    DefaultDriveAndImage(*this);
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));
    // Another updater (another runtime directory, so another updater mutex) is
    // writing to the same drive.
    OsHandle other = devices.sim.OpenForUpdate('D');
    ASSERT_NE(other, nullptr);
    const size_t before = Drive().Transcript().size();

    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(1000);
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_UPDATE_FAILED}));
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_EQ(Drive().Transcript().size(), before);  // not even the eject

    devices.sim.Close(other);
    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_UPDATE_FAILED, IDS_RESTART}));
    EXPECT_EQ(Drive().Revision(), "1.10");
}

TEST_F(MainDialog, ImagePathTooLongForTheUpdateIsRefusedWhole) {
    // A current directory whose image path fits the 1024-byte buffer but not the
    // 500 bytes the update reads it from.
    std::string deep = dir + "/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(100, 'c');
    ASSERT_EQ(std::system(("mkdir -p '" + deep + "'").c_str()), 0);
    ASSERT_EQ(chdir(deep.c_str()), 0);
    std::string error;
    ASSERT_TRUE(SimWriteImage(deep + "/" + IMAGE_FILE_NAME, SimImageOptions(), &error)) << error;
    AddDrives("");
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));

    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(1000);

    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_IMAGE_NOT_FOUND}));
    EXPECT_EQ(boxes.Shown()[1].text, Text(IDS_IMAGE_NOT_FOUND) + "\r\n" + deep + "/" + IMAGE_FILE_NAME);
    EXPECT_TRUE(UserControlsEnabled());
    EXPECT_EQ(CountCommands(Drive(), kWriteBuffer), 0);
}

// --- One worker at a time ---------------------------------------------------------------

TEST_F(MainDialog, SelectionAndUpdateWhileTheIdentificationIsReadWaitForIt) {
    // D's identification read (its third command) is slow; meanwhile the user picks E
    // and presses update. D needs no update: acting on its late report would close
    // the dialog with IDS_UPDATE_NOT_NEEDED.
    AddDrives(
        "revision = 1.10\ndate = 09/08/21\nfault = nth=3 opcode=0x12 delay=2000\n"
        "drive = E\nrevision = 1.05\n");
    WriteImage();
    boxes.Answer(IDYES);
    dlg = std::make_unique<CUpdaterDlg>();
    app.m_pMainWnd = dlg.get();
    ASSERT_TRUE(dlg->Create(IDD_UPDATER_DIALOG));
    ASSERT_TRUE(headless::SelectItem(Hwnd(), IDC_DRIVE_COMBO, 1));
    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(10000);

    EXPECT_FALSE(Closed());
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING}));
    EXPECT_EQ(g_selectedDevice, 1);
    EXPECT_TRUE(ShowsVersions("1.05"));
    EXPECT_EQ(CountCommands(Drive('D'), kInquiry), 2);
    EXPECT_EQ(CountCommands(Drive('E'), kInquiry), 2);
    EXPECT_EQ(CountCommands(Drive('D'), kWriteBuffer) + CountCommands(Drive('E'), kWriteBuffer), 0);
}

// --- Another drive chosen in the list ----------------------------------------------------

struct SelectionCase {
    const char* name;
    const char* driveE;           // scenario lines of drive E
    void (*beforeSelecting)(MainDialog&);
    std::vector<int> shown;       // after the warning
    bool closes;
    const char* current;          // version shown afterwards
};

class MainDialogSelection : public MainDialog, public ::testing::WithParamInterface<SelectionCase> {
};

const SelectionCase kSelections[] = {
    {"OlderDriveShowsItsVersions", "revision = 1.05\n", nullptr, {}, false, "1.05"},
    {"DriveNeedingNoUpdateClosesTheDialog", "revision = 1.10\ndate = 09/08/21\n", nullptr,
     {IDS_UPDATE_NOT_NEEDED}, true, "1.00"},
    {"ImageGoneKeepsTheDialogAsItWas", "revision = 1.05\n",
     [](MainDialog& t) { std::remove(t.ImagePath().c_str()); }, {IDS_IMAGE_NOT_FOUND}, false, "1.00"},
    {"DriveThatWillNotOpenKeepsTheDialogAsItWas", "revision = 1.05\n",
     [](MainDialog& t) { t.devices.refuseOpen = true; }, {}, false, "1.00"},
};

TEST_P(MainDialogSelection, ChecksTheNewDrive) {
    const SelectionCase& c = GetParam();
    AddDrives(std::string("drive = D\ndrive = E\n") + c.driveE);
    WriteImage();
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));
    if (c.beforeSelecting) c.beforeSelecting(*this);

    ASSERT_TRUE(headless::SelectItem(Hwnd(), IDC_DRIVE_COMBO, 1));
    headless::RunFor(1000);

    std::vector<int> expected = {IDS_SAFETY_WARNING};
    expected.insert(expected.end(), c.shown.begin(), c.shown.end());
    EXPECT_EQ(boxes.ShownIds(), expected);
    EXPECT_EQ(Closed(), c.closes);
    EXPECT_EQ(g_selectedDevice, 1);
    EXPECT_TRUE(ShowsVersions(c.current));
}

INSTANTIATE_TEST_SUITE_P(Table, MainDialogSelection, ::testing::ValuesIn(kSelections),
                         [](const ::testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

// Another drive chosen whose identification reply ends inside its revision: the
// versions shown stay the first drive's, and "update" updates neither drive.
TEST_F(MainDialog, UpdateAfterASelectionWhoseCheckFailedSendsNothing) {
    AddDrives("drive = D\ndrive = E\nfault = opcode=0x12 short=34\n");
    WriteImage();
    Start();
    ASSERT_TRUE(ShowsVersions("1.00"));
    ASSERT_TRUE(headless::SelectItem(Hwnd(), IDC_DRIVE_COMBO, 1));
    headless::RunFor(1000);
    EXPECT_TRUE(ShowsVersions("1.00"));

    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(60000);
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING}));
    EXPECT_TRUE(UserControlsEnabled());
    for (char letter : {'D', 'E'}) {
        EXPECT_EQ(CountCommands(Drive(letter), kWriteBuffer), 0) << letter;
        EXPECT_EQ(Drive(letter).Revision(), "1.00") << letter;
    }
}

// --- What ends the dialog ------------------------------------------------------------------

TEST_F(MainDialog, EscapeAndEnterNeverCloseItTheCloseCommandsDo) {
    DefaultDriveAndImage(*this);
    Start();
    for (unsigned key : {VK_ESCAPE, VK_RETURN}) {
        ASSERT_TRUE(headless::PressKey(Hwnd(), key));
        headless::RunFor(100);
        EXPECT_FALSE(Closed()) << "key " << key;
    }
    ASSERT_TRUE(headless::ChooseSystemCommand(Hwnd(), SC_CLOSE));
    headless::RunFor(100);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(dlg->m_result, IDCANCEL);
}

TEST_F(MainDialog, WhileUpdatingNothingButTheWorkersReportEndsIt) {
    // The first block takes 20 s: time enough to try everything.
    AddDrives("fault = opcode=0x3B buffer=0xF0 offset=0 times=1 delay=20000\n");
    WriteImage();
    Start();
    ASSERT_TRUE(headless::Click(Hwnd(), IDC_UPDATE));
    headless::RunFor(1000);
    ASSERT_TRUE(UserControlsDisabled());
    ASSERT_TRUE(g_updateRunning);

    headless::Click(Hwnd(), IDCANCEL);
    headless::ChooseSystemCommand(Hwnd(), SC_CLOSE);
    headless::PressKey(Hwnd(), VK_ESCAPE);
    headless::PressKey(Hwnd(), VK_RETURN);
    dlg->PostMessage(WM_CLOSE, 0, 0);                             // Alt+F4
    dlg->PostMessage(WM_COMMAND, IDCANCEL, 0);                    // a cancel already queued
    EXPECT_EQ(headless::SendMessage(Hwnd(), WM_QUERYENDSESSION, 0, 0), 0);      // log-off
    EXPECT_EQ(headless::SendMessage(Hwnd(), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0),
              BROADCAST_QUERY_DENY);                              // standby
    headless::RunFor(1000);
    EXPECT_FALSE(Closed());
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_END_SESSION_REFUSED}));

    headless::RunFor(60000);
    EXPECT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_END_SESSION_REFUSED, IDS_RESTART}));
    EXPECT_EQ(Drive().Revision(), "1.10");
}

TEST_F(MainDialog, RefusesTheEndOfTheSessionAndSuspendWhileItShowsTheVersions) {
    DefaultDriveAndImage(*this);
    Start();
    EXPECT_EQ(headless::SendMessage(Hwnd(), WM_QUERYENDSESSION, 0, 0), 0);
    ASSERT_EQ(boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, IDS_END_SESSION_REFUSED}));
    EXPECT_EQ(boxes.Shown()[1].style, MB_ICONEXCLAMATION);
    EXPECT_EQ(headless::SendMessage(Hwnd(), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), BROADCAST_QUERY_DENY);
    EXPECT_NE(headless::SendMessage(Hwnd(), WM_POWERBROADCAST, 0x0007 /* resume */, 0), BROADCAST_QUERY_DENY);
    EXPECT_FALSE(Closed());
}

// --- Window furniture ----------------------------------------------------------------------

TEST_F(MainDialog, SystemMenuOpensTheAboutBoxAndAMinimisedWindowShowsItsIcon) {
    DefaultDriveAndImage(*this);
    Start();
    headless::WindowState s = Window();
    ASSERT_GE(s.systemMenu.size(), 2u);
    EXPECT_TRUE(s.systemMenu[s.systemMenu.size() - 2].flags & MF_SEPARATOR);
    ASSERT_NE(s.MenuItem(IDM_ABOUT), nullptr);
    EXPECT_EQ(s.MenuItem(IDM_ABOUT)->text, Text(IDS_ABOUT_ITEM));
    EXPECT_NE(s.bigIcon, nullptr);
    EXPECT_EQ(s.smallIcon, s.bigIcon);

    // The about box runs modally over the dialog; OK ends it.
    bool aboutSeen = false;
    headless::SetIdleHook([&] {
        for (WindowHandle about : headless::FindWindows(CAboutDlg::IDD)) {
            if (State(about).ended) continue;
            aboutSeen = true;
            EXPECT_FALSE(State(Hwnd()).enabled);
            return headless::Click(about, IDOK);
        }
        return false;
    });
    ASSERT_TRUE(headless::ChooseSystemCommand(Hwnd(), IDM_ABOUT));
    headless::RunFor(100);
    headless::SetIdleHook(nullptr);
    EXPECT_TRUE(aboutSeen);
    EXPECT_TRUE(headless::FindWindows(CAboutDlg::IDD).empty());
    EXPECT_FALSE(Closed());
    EXPECT_TRUE(Window().enabled);

    ASSERT_TRUE(headless::SetIconic(Hwnd(), true));
    headless::RunFor(100);
    EXPECT_GT(Window().iconPaints, 0);
}

}  // namespace
