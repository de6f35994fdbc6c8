// The progress indicator and the about box on the headless back-end.
#include "ui/about_dialog.h"
#include "ui/indicator_dialog.h"

#include "ui/framework/headless/headless.h"

#include "os/platform.h"
#include "os/process.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "res/strings.h"
#include "testing/os_fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        OsSetTime(&m_time);
        OsSetPlatform(&m_platform);
        UseLanguage("C");
        headless::SetResponder(&m_boxes);
    }
    void TearDown() override {
        headless::Reset();
        OsSetPlatform(nullptr);
        OsSetTime(nullptr);
        unsetenv("LC_ALL");
    }
    // The resource language and the string loader both follow the locale.
    void UseLanguage(const char* locale) {
        setenv("LC_ALL", locale, 1);
        OsSetResourceLanguage(0);
    }
    headless::WindowState State(WindowHandle hwnd) {
        headless::WindowState s;
        EXPECT_TRUE(headless::GetWindowState(hwnd, &s));
        return s;
    }
    std::string CountdownText(CDialog& d) { return State(d.m_hWnd).Control(IDC_SECONDS_LEFT)->text; }
    int Bar(CDialog& d) { return State(d.m_hWnd).Control(IDC_PROGRESS)->pos; }

    VirtualTime m_time;
    FakePlatform m_platform;
    headless::ScriptedResponder m_boxes;
};

struct CountdownCase {
    int seconds;
    const char* text;
    int bar;
};

class Countdown : public Dialogs, public ::testing::WithParamInterface<CountdownCase> {};

TEST_P(Countdown, TextAndBarAfterSecondsSinceOpening) {
    const CountdownCase& c = GetParam();
    OpenIndicator(g_mainIndicator);
    ASSERT_NE(g_mainIndicator, nullptr);
    headless::RunFor(static_cast<uint32_t>(c.seconds) * 1000);
    EXPECT_EQ(CountdownText(*g_mainIndicator), c.text);
    EXPECT_EQ(Bar(*g_mainIndicator), c.bar);
    delete g_mainIndicator;
    EXPECT_EQ(g_mainIndicator, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, Countdown,
                         ::testing::Values(CountdownCase{0, "34 seconds", 0},  // the template's text
                                           CountdownCase{1, "33 seconds", 1},
                                           CountdownCase{10, "24 seconds", 10},
                                           CountdownCase{32, "2 seconds", 32},
                                           CountdownCase{33, "1 second", 33},
                                           CountdownCase{34, "0 second", 34},
                                           CountdownCase{35, "please wait a second.", 34},
                                           CountdownCase{90, "please wait a second.", 34}),
                         [](const auto& info) { return std::to_string(info.param.seconds) + "s"; });

TEST_F(Dialogs, CodePage932CountsInShiftJisThenWaitsInJapanese) {
    EXPECT_EQ(std::string(kCountdownFormat932), std::string("\x8E\x63\x82\xE8\x25\x64\x95\x62"));

    UseLanguage("ja_JP.UTF-8");
    m_platform.oemCodePage = 932;
    OpenIndicator(g_autoIndicator);
    ASSERT_NE(g_autoIndicator, nullptr);
    EXPECT_EQ(State(g_autoIndicator->m_hWnd).caption, "アップデート中です......");
    EXPECT_EQ(CountdownText(*g_autoIndicator), "残り34秒");
    struct Step {
        uint32_t ms;
        const char* text;
    } steps[] = {{1000, "残り33秒"}, {32000, "残り1秒"}, {1000, "残り0秒"}, {1000, "もうしばらくお待ちください。"}};
    for (const Step& step : steps) {
        headless::RunFor(step.ms);
        EXPECT_EQ(CountdownText(*g_autoIndicator), step.text);
    }
    EXPECT_EQ(Bar(*g_autoIndicator), 34);
    delete g_autoIndicator;
}

TEST_F(Dialogs, IndicatorCannotBeClosedByTheUserButEndsOnTheOwnersRequest) {
    OpenIndicator(g_mainIndicator);
    CDlgIndicater* indicator = g_mainIndicator;
    headless::WindowState s = State(indicator->m_hWnd);
    EXPECT_TRUE(s.visible);
    EXPECT_FALSE(s.MenuItem(SC_CLOSE)->Enabled());

    headless::PressKey(indicator->m_hWnd, VK_ESCAPE);
    headless::ChooseSystemCommand(indicator->m_hWnd, SC_CLOSE);
    headless::RunFor(10000);  // an update that ends after about ten seconds
    EXPECT_FALSE(indicator->m_ended);
    EXPECT_EQ(CountdownText(*indicator), "24 seconds");
    EXPECT_EQ(Bar(*indicator), 10);

    CloseIndicator(g_mainIndicator);
    headless::Pump();
    EXPECT_TRUE(indicator->m_ended);
    EXPECT_EQ(indicator->m_result, IDCANCEL);
    EXPECT_FALSE(State(indicator->m_hWnd).visible);
    EXPECT_EQ(g_mainIndicator, indicator);  // ending it leaves the reference

    CloseIndicator(nullptr);  // nothing to close: nothing happens
    delete indicator;
}

TEST_F(Dialogs, ASecondUpdateGetsAFreshIndicatorAndKeepsItsReference) {
    OpenIndicator(g_mainIndicator);
    CDlgIndicater* first = g_mainIndicator;
    headless::RunFor(20000);
    CloseIndicator(g_mainIndicator);
    headless::Pump();

    OpenIndicator(g_mainIndicator);  // destroys the ended one
    ASSERT_NE(g_mainIndicator, nullptr);
    EXPECT_EQ(headless::FindWindows(CDlgIndicater::IDD).size(), 1u);
    EXPECT_EQ(g_mainIndicator->m_secondsLeft, 34);
    EXPECT_EQ(CountdownText(*g_mainIndicator), "34 seconds");
    EXPECT_EQ(Bar(*g_mainIndicator), 0);
    (void)first;

    // Destroying some other indicator must not lose the live one.
    CDlgIndicater* other = nullptr;
    OpenIndicator(other);
    delete other;
    EXPECT_NE(g_mainIndicator, nullptr);
    delete g_mainIndicator;
    EXPECT_EQ(g_mainIndicator, nullptr);
}

// --- About box ------------------------------------------------------------------------------

class Owner : public CDialog {
public:
    Owner() : CDialog(IDD_UPDATER_DIALOG) {}
};

struct AboutCase {
    const char* name;
    std::function<void(WindowHandle)> act;
    intptr_t result;
};

class About : public Dialogs, public ::testing::WithParamInterface<AboutCase> {};

TEST_P(About, EndsThroughOkEscapeAndCloseBoxWithItsOwnerDisabledMeanwhile) {
    // As in the program: no parent, so the application's main window owns it.
    CWinApp app;
    Owner owner;
    ASSERT_TRUE(owner.Create(IDD_UPDATER_DIALOG));
    app.m_pMainWnd = &owner;
    CAboutDlg about;
    bool ownerDisabled = false;
    std::string caption, version;
    int step = 0;
    headless::SetIdleHook([&] {
        if (step++ > 0) {
            about.EndDialog(-2);  // it did not end by itself
            return true;
        }
        headless::WindowState s = State(about.m_hWnd);
        caption = s.caption;
        version = s.controls[0].text;
        ownerDisabled = !State(owner.m_hWnd).enabled;
        GetParam().act(about.m_hWnd);
        return true;
    });
    EXPECT_EQ(about.DoModal(), GetParam().result);
    headless::SetIdleHook(nullptr);
    EXPECT_EQ(caption, "veriosn info firmware updater");
    EXPECT_EQ(version, "QUILLMOR.EXE version 1.00");
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(State(owner.m_hWnd).enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Table, About,
    ::testing::Values(AboutCase{"Ok", [](WindowHandle h) { headless::Click(h, IDOK); }, IDOK},
                      AboutCase{"Enter", [](WindowHandle h) { headless::PressKey(h, VK_RETURN); }, IDOK},
                      AboutCase{"Escape", [](WindowHandle h) { headless::PressKey(h, VK_ESCAPE); }, IDCANCEL},
                      AboutCase{"CloseBox", [](WindowHandle h) { headless::ChooseSystemCommand(h, SC_CLOSE); },
                                IDCANCEL}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
