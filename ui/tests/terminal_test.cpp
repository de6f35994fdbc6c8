// How `quillmor /au` looks on a terminal: its message boxes, the countdown, and the
// whole unattended run.
#include "ui/terminal/terminal.h"

#include "testing/dialog_fixture.h"
#include "ui/auto_dialog.h"

#include <cstdio>
#include <memory>

namespace {

// A terminal made of memory: what is printed.
class Screen {
public:
    Screen() { m_out = open_memstream(&m_buffer, &m_size); }
    ~Screen() {
        std::fclose(m_out);
        std::free(m_buffer);
    }
    terminal::Options Options(bool outIsTerminal) {
        terminal::Options o;
        o.out = m_out;
        o.outIsTerminal = outIsTerminal;
        return o;
    }
    std::string Printed() {
        std::fflush(m_out);
        return std::string(m_buffer, m_size);
    }

private:
    FILE* m_out = nullptr;
    char* m_buffer = nullptr;
    size_t m_size = 0;
};

// --- Message boxes ---------------------------------------------------------------------

struct BoxCase {
    unsigned style;
    int answer;
};

class TerminalBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(TerminalBox, PrintsCaptionAndTextAndTakesTheSafeAnswer) {
    const BoxCase& c = GetParam();
    Screen screen;
    terminal::FrontEnd frontEnd(screen.Options(false));
    EXPECT_EQ(frontEnd.ShowMessageBox(0, "first line\r\nsecond line", "firmware updater", c.style), c.answer);
    EXPECT_EQ(screen.Printed(), "[firmware updater]\nfirst line\nsecond line\n");
}

INSTANTIATE_TEST_SUITE_P(Table, TerminalBox,
                         ::testing::Values(BoxCase{MB_YESNO, IDNO}, BoxCase{MB_OKCANCEL, IDCANCEL},
                                           BoxCase{MB_OK | MB_ICONHAND, IDOK}));

// --- Whole runs ------------------------------------------------------------------------------

class TerminalRun : public DialogTest {
public:
    void TearDown() override {
        frontEnd.reset();
        DialogTest::TearDown();
    }
    void Install(Screen& screen, bool outIsTerminal) {
        frontEnd = std::make_unique<terminal::FrontEnd>(screen.Options(outIsTerminal));
        frontEnd->Install();
    }
    std::unique_ptr<terminal::FrontEnd> frontEnd;
};

TEST_F(TerminalRun, CountdownRedrawsInPlaceOnATerminal) {
    Screen screen;
    Install(screen, true);
    OpenIndicator(g_mainIndicator);
    headless::RunFor(25000);
    frontEnd->ShowMessageBox(0, "text", "caption", MB_OK);  // ends the countdown's line first
    CloseIndicator(g_mainIndicator);
    headless::RunFor(0);

    const std::string printed = screen.Printed();
    EXPECT_EQ(printed.rfind("now updating... 34 seconds\rnow updating... 33 seconds\r", 0), 0u) << printed;
    // A shorter text covers what the longer one left.
    EXPECT_NE(printed.find("\rnow updating... 9 seconds \n[caption]\ntext\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("ended"), std::string::npos);
}

TEST_F(TerminalRun, CountdownPrintsAStartAndAnEndLineOtherwise) {
    Screen screen;
    Install(screen, false);
    OpenIndicator(g_mainIndicator);
    headless::RunFor(2000);
    CloseIndicator(g_mainIndicator);
    headless::RunFor(0);
    EXPECT_EQ(screen.Printed(), "now updating... 34 seconds\nnow updating... ended at: 32 seconds\n");
}

TEST_F(TerminalRun, UnattendedRunUpdatesAndShowsOnlyTheCountdown) {
    AddDrives("");
    WriteImage();
    Screen screen;
    Install(screen, false);
    CWinApp app;
    {
        CAutoDlg dialog;
        app.m_pMainWnd = &dialog;
        EXPECT_EQ(app.Run(), 0);
        app.m_pMainWnd = nullptr;
    }
    EXPECT_EQ(Drive().Revision(), "1.10");
    EXPECT_EQ(screen.Printed(), "now updating... 34 seconds\nnow updating... ended at: 34 seconds\n");
}

}  // namespace
