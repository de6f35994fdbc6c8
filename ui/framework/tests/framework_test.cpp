// The dialog framework's own behaviour that the dialogs rely on, on the headless
// back-end and a virtual clock.
#include "ui/framework/afxwin.h"
#include "ui/framework/headless/headless.h"

#include "os/platform.h"
#include "os/process.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "res/resource.h"
#include "res/strings.h"
#include "testing/os_fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kMainTemplate = IDD_UPDATER_DIALOG;  // has a cancel button, no default button
constexpr unsigned kIndicatorTemplate = IDD_INDICATOR;  // no cancel button, hidden when created
constexpr unsigned kAboutTemplate = IDD_ABOUTBOX;       // default button OK
constexpr unsigned WM_TEST = WM_APP + 1;

// A dialog that records what reaches it.
class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(unsigned templateId = kMainTemplate, CWnd* parent = nullptr) : CDialog(templateId, parent) {}

    bool OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) override {
        if (message == WM_TEST) {
            posted.push_back(wParam);
            return true;
        }
        if (message == WM_POWERBROADCAST && refuseSuspend && wParam == PBT_APMQUERYSUSPEND) {
            *result = BROADCAST_QUERY_DENY;
            return true;
        }
        return CDialog::OnWndMsg(message, wParam, lParam, result);
    }
    bool PreTranslateMessage(Msg* msg) override {
        if (swallowEscape && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) return false;
        return CDialog::PreTranslateMessage(msg);
    }
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) onInit(*this);
        return true;
    }
    bool OnCommand(unsigned id, unsigned code) override {
        commands.push_back({id, code});
        return CDialog::OnCommand(id, code);
    }
    void OnTimer(uintptr_t id) override {
        ticks.push_back(OsTime().NowMs());
        CDialog::OnTimer(id);
    }
    void OnPaint() override {
        if (IsIconic()) {
            PaintMinimizedIcon(reinterpret_cast<UiIcon>(uintptr_t{IDI_MAINFRAME}));
        } else {
            CDialog::OnPaint();
        }
    }

    std::function<void(ProbeDialog&)> onInit;
    bool swallowEscape = false;
    bool refuseSuspend = false;
    std::vector<uintptr_t> posted;
    std::vector<std::pair<unsigned, unsigned>> commands;
    std::vector<uint64_t> ticks;
};

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        OsSetTime(&m_time);
        OsSetPlatform(&m_platform);
        OsSetResourceLanguage(LANG_ENGLISH_US);
        headless::SetResponder(&m_boxes);
    }
    void TearDown() override {
        headless::Reset();
        OsSetPlatform(nullptr);
        OsSetTime(nullptr);
    }

    // Runs `dialog` modally while `script` acts each time the loop falls idle; the
    // script returns false once it has nothing more to do, and the run is then ended
    // so that a dialog that failed to end cannot hang the test.
    intptr_t RunModal(CDialog& dialog, std::function<bool(int step)> script) {
        int step = 0;
        headless::SetIdleHook([&] {
            if (!dialog.m_hWnd) return false;
            if (script(step++)) return true;
            if (!dialog.m_ended) {
                stuck = true;
                dialog.EndDialog(-2);
            }
            return true;
        });
        intptr_t result = dialog.DoModal();
        headless::SetIdleHook(nullptr);
        return result;
    }

    headless::WindowState State(WindowHandle hwnd) {
        headless::WindowState s;
        EXPECT_TRUE(headless::GetWindowState(hwnd, &s));
        return s;
    }

    VirtualTime m_time;
    FakePlatform m_platform;
    headless::ScriptedResponder m_boxes;
    bool stuck = false;
};

// --- Messages across threads ----------------------------------------------------------------

struct PostJob {
    CWnd* target;
    int count;
};

void PostFromWorker(void* arg) {
    auto* job = static_cast<PostJob*>(arg);
    for (int i = 0; i < job->count; ++i) {
        job->target->PostMessage(WM_TEST, static_cast<uintptr_t>(i), 0);
        if (i % 10 == 0) OsTime().Sleep(5);  // interleave with the loop
    }
}

TEST_F(Framework, MessagesPostedFromAWorkerArriveInOrder) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    PostJob job{&dialog, 200};
    OsHandle worker = OsTime().StartThread(&PostFromWorker, &job);
    ASSERT_NE(worker, nullptr);
    headless::RunFor(1000);
    EXPECT_TRUE(OsTime().WaitThread(worker, 0));
    OsTime().CloseThread(worker);

    ASSERT_EQ(dialog.posted.size(), 200u);
    for (size_t i = 0; i < dialog.posted.size(); ++i) ASSERT_EQ(dialog.posted[i], i);
}

CountingTime* g_countingTime = nullptr;

// The loop's event of the program's own thread goes when the thread does, at the
// process's end (valgrind saw it lost).
TEST_F(Framework, TheLoopsEventEndsWithItsThread) {
    EXPECT_EXIT(
        {
            static CountingTime counting(m_time);
            g_countingTime = &counting;
            OsSetTime(&counting);
            headless::RunFor(10);  // waits on the thread's event
            if (counting.Live() != 1) std::_Exit(2);
            // Runs after the thread's own objects are gone.
            std::atexit([] { std::_Exit(g_countingTime->Live()); });
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Framework, QuitComesAfterEverythingPostedBeforeItAndCarriesTheExitCode) {
    struct App : CWinApp {
        ProbeDialog dialog{IDD_AUTO_DIALOG};
        bool InitInstance() override {
            dialog.Create(IDD_AUTO_DIALOG);
            // What a hidden dialog does when it stops during its start-up.
            dialog.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
            dialog.PostMessage(WM_TEST, 7, 0);
            AfxPostQuitMessage(3);
            return true;
        }
    } app;
    EXPECT_EQ(AfxWinMain(), 3);
    EXPECT_EQ(app.dialog.posted, std::vector<uintptr_t>{7});
    ASSERT_EQ(app.dialog.commands.size(), 1u);
    EXPECT_EQ(app.dialog.commands[0].first, static_cast<unsigned>(IDCANCEL));
    EXPECT_TRUE(app.dialog.m_ended);
}

TEST_F(Framework, FailedStartUpSkipsTheLoopAndEndsThroughExitInstance) {
    struct App : CWinApp {
        bool InitInstance() override { return false; }
        int ExitInstance() override {
            ++exits;
            return 9;
        }
        int Run() override {
            ADD_FAILURE() << "loop ran";
            return 0;
        }
        int exits = 0;
    } app;
    EXPECT_EQ(AfxWinMain(), 9);
    EXPECT_EQ(app.exits, 1);
}

// --- Timers ------------------------------------------------------------------------------

TEST_F(Framework, TimersTickOnVirtualTimeUntilKilled) {
    ProbeDialog dialog(kIndicatorTemplate);
    ASSERT_TRUE(dialog.Create(kIndicatorTemplate));
    const uint64_t start = OsTime().NowMs();
    dialog.SetTimer(1, 1000);
    headless::RunFor(3500);
    EXPECT_EQ(dialog.ticks, (std::vector<uint64_t>{start + 1000, start + 2000, start + 3000}));
    dialog.KillTimer(1);
    headless::RunFor(5000);
    EXPECT_EQ(dialog.ticks.size(), 3u);
}

TEST_F(Framework, ATimerDoesNotOvertakePostedMessages) {
    ProbeDialog dialog(kIndicatorTemplate);
    ASSERT_TRUE(dialog.Create(kIndicatorTemplate));
    dialog.SetTimer(1, 1000);
    m_time.Advance(5000);  // several periods overdue
    dialog.PostMessage(WM_TEST, 1, 0);
    headless::Pump();
    EXPECT_EQ(dialog.posted.size(), 1u);
    EXPECT_EQ(dialog.ticks.size(), 1u);  // an overdue timer ticks once, not five times
}

// --- Modal runs and closing ---------------------------------------------------------------

TEST_F(Framework, ModalRunEndsOnPostedCloseAndDisablesItsOwnerMeanwhile) {
    ProbeDialog owner;
    ASSERT_TRUE(owner.Create(kMainTemplate));
    ProbeDialog about(kAboutTemplate, &owner);
    bool ownerDisabledDuringRun = false;
    intptr_t result = RunModal(about, [&](int step) {
        if (step > 0) return false;
        ownerDisabledDuringRun = !State(owner.m_hWnd).enabled;
        about.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    });
    EXPECT_FALSE(stuck);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(ownerDisabledDuringRun);
    EXPECT_TRUE(State(owner.m_hWnd).enabled);
    EXPECT_EQ(about.m_hWnd, 0u);  // destroyed when the run returned
}

TEST_F(Framework, CloseAndEscapeAreRefusedWhileTheCancelButtonIsDisabled) {
    ProbeDialog dialog;
    intptr_t result = RunModal(dialog, [&](int step) {
        if (step > 0) return false;
        dialog.GetDlgItem(IDCANCEL)->EnableWindow(false);
        dialog.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        headless::PressKey(dialog.m_hWnd, VK_ESCAPE);
        return true;
    });
    EXPECT_TRUE(stuck);  // only the test's own EndDialog ended it
    EXPECT_EQ(result, -2);
    EXPECT_TRUE(dialog.commands.empty());
}

TEST_F(Framework, PostedCloseEndsADialogWhoseCloseCommandIsDisabled) {
    ProbeDialog indicator(kIndicatorTemplate);
    ASSERT_TRUE(indicator.Create(kIndicatorTemplate));
    indicator.ShowWindow(SW_SHOW);
    indicator.GetSystemMenu(false)->EnableMenuItem(SC_CLOSE, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);

    // The user's close box does nothing...
    headless::ChooseSystemCommand(indicator.m_hWnd, SC_CLOSE);
    headless::Pump();
    EXPECT_FALSE(indicator.m_ended);
    EXPECT_FALSE(State(indicator.m_hWnd).MenuItem(SC_CLOSE)->Enabled());

    // ...but the owner's posted request ends and hides it.
    indicator.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    headless::Pump();
    EXPECT_TRUE(indicator.m_ended);
    EXPECT_EQ(indicator.m_result, IDCANCEL);
    EXPECT_FALSE(State(indicator.m_hWnd).visible);
}

// --- Keys ----------------------------------------------------------------------------------

struct KeyCase {
    const char* name;
    unsigned templateId;
    unsigned key;
    bool swallowEscape;
    intptr_t expectedResult;  // -2: still open
};

class Keys : public Framework, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Keys, DialogKeysUnlessPreTranslationSwallowsThem) {
    const KeyCase& c = GetParam();
    ProbeDialog dialog(c.templateId);
    dialog.swallowEscape = c.swallowEscape;
    intptr_t result = RunModal(dialog, [&](int step) {
        if (step > 0) return false;
        headless::PressKey(dialog.m_hWnd, c.key);
        return true;
    });
    EXPECT_EQ(result, c.expectedResult);
}

INSTANTIATE_TEST_SUITE_P(Table, Keys,
                         ::testing::Values(KeyCase{"EscapeCancels", kMainTemplate, VK_ESCAPE, false, IDCANCEL},
                                           KeyCase{"EscapeSwallowed", kMainTemplate, VK_ESCAPE, true, -2},
                                           KeyCase{"EscapeSwallowedWithoutCancelButton", kIndicatorTemplate,
                                                   VK_ESCAPE, true, -2},
                                           KeyCase{"EnterWithoutDefaultButtonIsOk", kMainTemplate, VK_RETURN, false,
                                                   IDOK},
                                           KeyCase{"EnterPressesTheDefaultButton", kAboutTemplate, VK_RETURN, false,
                                                   IDOK}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- User input and controls -------------------------------------------------------------

TEST_F(Framework, InputReachesOnlyEnabledControlsAndWindows) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    CComboBox combo;
    combo.m_hWnd = dialog.GetDlgItem(IDC_DRIVE_COMBO)->m_hWnd;
    combo.InsertString(-1, "D: first");
    combo.InsertString(-1, "E: second");

    dialog.GetDlgItem(IDC_UPDATE)->EnableWindow(false);
    headless::Click(dialog.m_hWnd, IDC_UPDATE);
    headless::Pump();
    EXPECT_TRUE(dialog.commands.empty());

    dialog.GetDlgItem(IDC_UPDATE)->EnableWindow(true);
    headless::Click(dialog.m_hWnd, IDC_UPDATE);
    headless::SelectItem(dialog.m_hWnd, IDC_DRIVE_COMBO, 1);
    headless::Pump();
    using Command = std::pair<unsigned, unsigned>;
    EXPECT_EQ(dialog.commands, (std::vector<Command>{{IDC_UPDATE, BN_CLICKED}, {IDC_DRIVE_COMBO, CBN_SELCHANGE}}));
    EXPECT_EQ(combo.GetCurSel(), 1);

    // A click queued before the window was disabled (a modal box in front) is lost.
    headless::Click(dialog.m_hWnd, IDC_UPDATE);
    dialog.EnableWindow(false);
    headless::Pump();
    EXPECT_EQ(dialog.commands.size(), 2u);
}

TEST_F(Framework, ComboKeepsInsertionOrderAndProgressStaysInRange) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    CComboBox combo;
    combo.m_hWnd = dialog.GetDlgItem(IDC_DRIVE_COMBO)->m_hWnd;
    // A sorted-style combo box: inserting at the end must still keep item i = entry i.
    for (const char* item : {"Z: TORVELL", "D: TORVELL", "M: TORVELL"}) combo.InsertString(-1, item);
    EXPECT_EQ(State(dialog.m_hWnd).Control(IDC_DRIVE_COMBO)->items,
              (std::vector<std::string>{"Z: TORVELL", "D: TORVELL", "M: TORVELL"}));
    EXPECT_EQ(combo.SetCurSel(3), CB_ERR);
    EXPECT_EQ(combo.GetCurSel(), CB_ERR);
    EXPECT_EQ(combo.SetCurSel(0), 0);
    EXPECT_EQ(State(dialog.m_hWnd).Control(IDC_DRIVE_COMBO)->text, "Z: TORVELL");
    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
    EXPECT_EQ(combo.GetCurSel(), CB_ERR);

    ProbeDialog indicator(kIndicatorTemplate);
    ASSERT_TRUE(indicator.Create(kIndicatorTemplate));
    CProgressCtrl bar;
    bar.m_hWnd = indicator.GetDlgItem(IDC_PROGRESS)->m_hWnd;
    bar.SetRange32(0, 34);
    bar.SetPos(33);
    bar.OffsetPos(1);
    bar.OffsetPos(1);
    EXPECT_EQ(bar.GetPos(), 34);
    bar.SetPos(-5);
    EXPECT_EQ(bar.GetPos(), 0);
}

TEST_F(Framework, DataExchangeBindsControlsOfTheTemplate) {
    struct Bound : ProbeDialog {
        Bound() : ProbeDialog(kIndicatorTemplate) {}
        void DoDataExchange(CDataExchange* dx) override {
            CDialog::DoDataExchange(dx);
            DDX_Control(dx, IDC_PROGRESS, bar);
        }
        CProgressCtrl bar;
    } dialog;
    ASSERT_TRUE(dialog.Create(kIndicatorTemplate));
    ASSERT_NE(dialog.bar.m_hWnd, 0u);
    dialog.bar.SetRange32(0, 34);
    int lower = -1, upper = -1;
    dialog.bar.GetRange(lower, upper);
    EXPECT_EQ(upper, 34);
    EXPECT_EQ(State(dialog.m_hWnd).Control(IDC_PROGRESS)->rangeUpper, 34);
}

// --- The window model ----------------------------------------------------------------------

TEST_F(Framework, ModelComesFromTheTemplateInTheResourceLanguage) {
    OsSetResourceLanguage(LANG_JAPANESE_JP);
    ProbeDialog dialog;
    bool visibleDuringInit = true;
    dialog.onInit = [&](ProbeDialog& d) { visibleDuringInit = d.IsWindowVisible(); };
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    headless::WindowState s = State(dialog.m_hWnd);
    EXPECT_EQ(s.caption, "ファームウェア アップデータ");
    EXPECT_EQ(s.Control(IDC_UPDATE)->text, "アップデート開始");
    EXPECT_FALSE(visibleDuringInit);  // the visible style applies once the initialisation returned
    EXPECT_TRUE(s.visible);
    EXPECT_EQ(headless::FindWindows(kMainTemplate), std::vector<WindowHandle>{dialog.m_hWnd});

    ProbeDialog hidden(kIndicatorTemplate);
    ASSERT_TRUE(hidden.Create(kIndicatorTemplate));
    EXPECT_FALSE(State(hidden.m_hWnd).visible);

    ProbeDialog missing(999);
    EXPECT_FALSE(missing.Create(999));
}

// A language a test fixes holds for the templates, the string loader and the ids
// of message boxes alike, whatever the locale says.
TEST_F(Framework, AFixedLanguageHoldsForTemplatesAndStringsAlike) {
    struct EnglishLocale {
        EnglishLocale() : had(std::getenv("LC_ALL") != nullptr), old(had ? std::getenv("LC_ALL") : "") {
            setenv("LC_ALL", "C", 1);
        }
        ~EnglishLocale() { had ? setenv("LC_ALL", old.c_str(), 1) : unsetenv("LC_ALL"); }
        bool had;
        std::string old;
    } english;
    OsSetResourceLanguage(LANG_JAPANESE_JP);
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    char caption[128];
    ASSERT_GT(OsLoadString(IDS_CAPTION, caption, sizeof caption), 0);
    EXPECT_STREQ(caption, ResourceString(IDS_CAPTION, LANG_JAPANESE_JP));
    EXPECT_EQ(State(dialog.m_hWnd).caption, caption);
    dialog.MessageBox(caption, caption);
    EXPECT_EQ(m_boxes.ShownIds(), std::vector<int>{IDS_CAPTION});
}

TEST_F(Framework, SystemMenuItemsCanBeAppendedAndDisabled) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    CMenu* menu = dialog.GetSystemMenu(false);
    ASSERT_NE(menu, nullptr);
    menu->AppendMenu(MF_SEPARATOR);
    menu->AppendMenu(MF_STRING, IDM_ABOUT, "firmware updater Version(&A)...");
    EXPECT_EQ(menu->EnableMenuItem(SC_CLOSE, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED), MF_ENABLED);
    EXPECT_EQ(menu->EnableMenuItem(0x4242, MF_BYCOMMAND | MF_ENABLED), 0xFFFFFFFFu);

    headless::WindowState s = State(dialog.m_hWnd);
    ASSERT_NE(s.MenuItem(IDM_ABOUT), nullptr);
    EXPECT_EQ(s.MenuItem(IDM_ABOUT)->text, "firmware updater Version(&A)...");
    EXPECT_EQ(s.systemMenu.back().id, static_cast<unsigned>(IDM_ABOUT));
    EXPECT_FALSE(s.MenuItem(SC_CLOSE)->Enabled());

    // Choosing the appended item reaches the dialog as a system command.
    headless::ChooseSystemCommand(dialog.m_hWnd, IDM_ABOUT);
    headless::Pump();
    EXPECT_FALSE(dialog.m_ended);
}

TEST_F(Framework, SessionAndPowerMessagesGetTheSystemAnswerUnlessTheDialogRefuses) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    EXPECT_EQ(headless::SendMessage(dialog.m_hWnd, WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_EQ(headless::SendMessage(dialog.m_hWnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), 1);
    dialog.refuseSuspend = true;
    EXPECT_EQ(headless::SendMessage(dialog.m_hWnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0),
              BROADCAST_QUERY_DENY);
    EXPECT_EQ(headless::SendMessage(dialog.m_hWnd, WM_POWERBROADCAST, 7 /* resume */, 0), 1);
}

TEST_F(Framework, MinimisedWindowIsRepaintedWithItsIcon) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    headless::Pump();
    EXPECT_EQ(State(dialog.m_hWnd).iconPaints, 0);
    headless::SetIconic(dialog.m_hWnd, true);
    headless::Pump();
    EXPECT_EQ(State(dialog.m_hWnd).iconPaints, 1);
}

TEST_F(Framework, WindowHandlesAreValidOnlyWhileTheWindowLives) {
    WindowHandle hwnd;
    {
        ProbeDialog dialog;
        ASSERT_TRUE(dialog.Create(kMainTemplate));
        hwnd = dialog.m_hWnd;
        EXPECT_TRUE(AfxIsWindow(hwnd));
        EXPECT_TRUE(AfxSetForegroundWindow(hwnd));
        EXPECT_EQ(headless::ForegroundWindow(), hwnd);
        dialog.PostMessage(WM_TEST, 1, 0);  // left in the queue
    }
    EXPECT_FALSE(AfxIsWindow(hwnd));
    EXPECT_FALSE(AfxSetForegroundWindow(hwnd));
    EXPECT_FALSE(AfxIsWindow(0));
    headless::Pump();  // the gone window's message is dropped, not delivered to freed memory
}

// --- Message boxes --------------------------------------------------------------------------

struct BoxJob {
    CWnd* owner;
    std::thread::id thread;
    int answer;
};

void ShowBoxFromWorker(void* arg) {
    auto* job = static_cast<BoxJob*>(arg);
    job->thread = std::this_thread::get_id();
    job->answer = job->owner->MessageBox(ResourceString(IDS_COMMAND_ERROR, LANG_ENGLISH_US), "firmware updater",
                                         MB_ICONHAND);
}

TEST_F(Framework, MessageBoxFromAWorkerReachesTheResponderWithItsOwner) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    BoxJob job{&dialog, {}, 0};
    OsHandle worker = OsTime().StartThread(&ShowBoxFromWorker, &job);
    ASSERT_TRUE(OsTime().WaitThread(worker, OS_WAIT_FOREVER));
    OsTime().CloseThread(worker);

    std::vector<headless::ShownMessageBox> shown = m_boxes.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, dialog.m_hWnd);
    EXPECT_EQ(shown[0].thread, job.thread);
    EXPECT_NE(shown[0].thread, std::this_thread::get_id());
    EXPECT_EQ(shown[0].stringId, IDS_COMMAND_ERROR);
    EXPECT_EQ(shown[0].caption, "firmware updater");
    EXPECT_EQ(shown[0].style, MB_ICONHAND);
    EXPECT_EQ(job.answer, IDOK);
}

TEST_F(Framework, ScriptedAnswersComeInOrderThenTheSafeAnswer) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(kMainTemplate));
    m_boxes.Answer(IDYES);
    EXPECT_EQ(dialog.MessageBox(ResourceString(IDS_SAFETY_WARNING, LANG_ENGLISH_US), "firmware updater",
                                MB_YESNO | MB_ICONINFORMATION),
              IDYES);
    EXPECT_EQ(dialog.MessageBox("again?", "firmware updater", MB_YESNO), IDNO);
    EXPECT_EQ(dialog.MessageBox("disc", "firmware updater", MB_OKCANCEL), IDCANCEL);
    std::string withPath = std::string(ResourceString(IDS_IMAGE_NOT_FOUND, LANG_ENGLISH_US)) + "\r\n/tmp/Q5518306.707";
    dialog.MessageBox(withPath.c_str(), "firmware updater", MB_ICONINFORMATION);
    EXPECT_EQ(m_boxes.ShownIds(), (std::vector<int>{IDS_SAFETY_WARNING, 0, 0, IDS_IMAGE_NOT_FOUND}));
}

// --- Texts ------------------------------------------------------------------------------------

TEST_F(Framework, ShiftJisTextsBecomeUtf8WhenTheOemCodePageIs932) {
    const char sjis[] = "\x8E\x63\x82\xE8" "5" "\x95\x62";  // 残り5秒
    struct Case {
        unsigned codePage;
        const char* in;
        const char* expected;
    } cases[] = {
        {932, sjis, "残り5秒"},
        {932, "残り5秒", "残り5秒"},  // already UTF-8: untouched
        {437, sjis, "?c??5?b"},       // not ours to guess: never invalid UTF-8 on the terminal
        {437, "33 seconds", "33 seconds"},
    };
    for (const Case& c : cases) {
        m_platform.oemCodePage = c.codePage;
        EXPECT_EQ(headless::ToUtf8(c.in), c.expected) << c.codePage << " " << c.expected;
    }

    m_platform.oemCodePage = 932;
    ProbeDialog indicator(kIndicatorTemplate);
    ASSERT_TRUE(indicator.Create(kIndicatorTemplate));
    indicator.SetDlgItemText(IDC_SECONDS_LEFT, sjis);
    EXPECT_EQ(State(indicator.m_hWnd).Control(IDC_SECONDS_LEFT)->text, "残り5秒");
}

}  // namespace
