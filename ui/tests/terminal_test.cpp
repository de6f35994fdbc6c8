// The terminal front-end: message boxes and questions, the countdown, and the whole
// interactive and unattended runs as a terminal shows them.
#include "ui/terminal/terminal.h"

#include "testing/dialog_fixture.h"
#include "ui/auto_dialog.h"

#include <cstdio>
#include <memory>

namespace {

// A terminal made of memory: what the user types, and what is printed.
class Screen {
public:
    explicit Screen(const std::string& typed) : m_typed(typed) {
        m_in = fmemopen(m_typed.empty() ? nullptr : &m_typed[0], m_typed.size(), "r");
        if (!m_in) m_in = fopen("/dev/null", "r");
        m_out = open_memstream(&m_buffer, &m_size);
    }
    ~Screen() {
        std::fclose(m_in);
        std::fclose(m_out);
        std::free(m_buffer);
    }
    terminal::Options Options(bool inIsTerminal, bool outIsTerminal, bool unattended) {
        terminal::Options o;
        o.in = m_in;
        o.out = m_out;
        o.inIsTerminal = inIsTerminal;
        o.outIsTerminal = outIsTerminal;
        o.unattended = unattended;
        return o;
    }
    std::string Printed() {
        std::fflush(m_out);
        return std::string(m_buffer, m_size);
    }
    // What the user typed that nobody has read.
    std::string Unread() {
        std::string rest;
        int c;
        while ((c = std::fgetc(m_in)) != EOF) rest += static_cast<char>(c);
        return rest;
    }

private:
    std::string m_typed;
    FILE* m_in = nullptr;
    FILE* m_out = nullptr;
    char* m_buffer = nullptr;
    size_t m_size = 0;
};

// --- Message boxes ---------------------------------------------------------------------

struct BoxCase {
    unsigned style;
    const char* typed;
    bool inIsTerminal;
    bool unattended;
    int answer;
    const char* unread;
};

class TerminalBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(TerminalBox, PrintsCaptionAndTextAndReadsOnlyWhenSomeoneCanAnswer) {
    const BoxCase& c = GetParam();
    Screen screen(c.typed);
    terminal::FrontEnd frontEnd(screen.Options(c.inIsTerminal, false, c.unattended));
    EXPECT_EQ(frontEnd.ShowMessageBox(0, "first line\r\nsecond line", "firmware updater", c.style), c.answer);
    EXPECT_EQ(screen.Printed().rfind("[firmware updater]\nfirst line\nsecond line\n", 0), 0u) << screen.Printed();
    EXPECT_EQ(screen.Unread(), c.unread);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TerminalBox,
    ::testing::Values(BoxCase{MB_YESNO, "y\n", true, false, IDYES, ""},
                      BoxCase{MB_YESNO, "Yes\nmore\n", true, false, IDYES, "more\n"},
                      BoxCase{MB_YESNO, "\n", true, false, IDNO, ""},
                      BoxCase{MB_YESNO, "maybe\ny\n", true, false, IDYES, ""},  // asked again
                      BoxCase{MB_YESNO, "", true, false, IDNO, ""},            // end of input
                      BoxCase{MB_YESNO, "y\n", false, false, IDNO, "y\n"},     // no terminal
                      BoxCase{MB_YESNO, "y\n", true, true, IDNO, "y\n"},       // unattended
                      BoxCase{MB_OKCANCEL, "\n", true, false, IDOK, ""},
                      BoxCase{MB_OKCANCEL, "c\n", true, false, IDCANCEL, ""},
                      BoxCase{MB_OKCANCEL, "\n", false, false, IDCANCEL, "\n"},
                      BoxCase{MB_OK | MB_ICONHAND, "y\n", true, false, IDOK, "y\n"}));  // never waits

// --- Whole runs ------------------------------------------------------------------------------

class TerminalRun : public DialogTest {
public:
    void TearDown() override {
        frontEnd.reset();
        DialogTest::TearDown();
    }
    void Install(Screen& screen, bool inIsTerminal, bool outIsTerminal, bool unattended) {
        frontEnd = std::make_unique<terminal::FrontEnd>(screen.Options(inIsTerminal, outIsTerminal, unattended));
        frontEnd->Install();  // over the test's session: the restart is the front-end's
    }
    std::unique_ptr<terminal::FrontEnd> frontEnd;
};

TEST_F(TerminalRun, CountdownRedrawsInPlaceOnATerminal) {
    Screen screen("");
    Install(screen, false, true, false);
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
    Screen screen("");
    Install(screen, false, false, false);
    OpenIndicator(g_mainIndicator);
    headless::RunFor(2000);
    CloseIndicator(g_mainIndicator);
    headless::RunFor(0);
    EXPECT_EQ(screen.Printed(), "now updating... 34 seconds\nnow updating... ended at: 32 seconds\n");
}

struct InteractiveCase {
    const char* typed;
    bool updated;
};

class TerminalInteractive : public TerminalRun, public ::testing::WithParamInterface<InteractiveCase> {};

TEST_P(TerminalInteractive, ListsTheDrivesShowsTheVersionsAndAsksBeforeUpdating) {
    const InteractiveCase& c = GetParam();
    AddDrives("");
    WriteImage();
    Screen screen(c.typed);
    Install(screen, true, false, false);
    CWinApp app;
    {
        CUpdaterDlg dialog;
        app.m_pMainWnd = &dialog;
        dialog.DoModal();  // ended by the close button, or by the restart that is not done
        app.m_pMainWnd = nullptr;
    }

    const std::string printed = screen.Printed();
    for (const char* expected :
         {"Drives found:\n  1. D: TORVELL DVD-RW  WKZ4471 1.00 09/07/15\nSelected: D: TORVELL DVD-RW  WKZ4471 1.00",
          "Drive: TORVELL DVD-RW\nFirmware version: current 1.00 --> following 1.10\n",
          "Update the firmware of D: TORVELL DVD-RW from 1.00 to 1.10? [y/N] "}) {
        EXPECT_NE(printed.find(expected), std::string::npos) << expected << "\n---\n" << printed;
    }
    EXPECT_EQ(Drive().Revision(), c.updated ? "1.10" : "1.00");
    EXPECT_EQ(printed.find("restart it yourself") != std::string::npos, c.updated) << printed;
    // The machine is never restarted: only the notice and the end of the dialog.
    for (const std::string& call : session.Calls()) EXPECT_NE(call, "restart");
}

INSTANTIATE_TEST_SUITE_P(Table, TerminalInteractive,
                         ::testing::Values(InteractiveCase{"y\ny\n", true}, InteractiveCase{"y\nn\n", false}));

TEST_F(TerminalRun, UpdateRefusedForAnOverlongImagePathAsksAgain) {
    // An image path that fits what the dialog found but not the 500 bytes the
    // update reads it from: the dialog refuses the update and stays as it was.
    const std::string deep = dir + "/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" +
                             std::string(100, 'c');
    ASSERT_EQ(std::system(("mkdir -p '" + deep + "'").c_str()), 0);
    ASSERT_EQ(chdir(deep.c_str()), 0);
    std::string error;
    ASSERT_TRUE(SimWriteImage(deep + "/" + IMAGE_FILE_NAME, SimImageOptions(), &error)) << error;
    AddDrives("");
    Screen screen("y\ny\nn\n");  // the warning, the update, then no to the question asked again
    Install(screen, true, false, false);
    CWinApp app;
    {
        CUpdaterDlg dialog;
        app.m_pMainWnd = &dialog;
        dialog.DoModal();
        app.m_pMainWnd = nullptr;
    }

    const std::string printed = screen.Printed();
    const std::string question = "Update the firmware of D: TORVELL DVD-RW from 1.00 to 1.10? [y/N] ";
    const size_t asked = printed.find(question);
    ASSERT_NE(asked, std::string::npos) << printed;
    const size_t refused = printed.find(Text(IDS_IMAGE_NOT_FOUND), asked);
    ASSERT_NE(refused, std::string::npos) << printed;
    EXPECT_NE(printed.find(question, refused), std::string::npos) << printed;
    EXPECT_EQ(screen.Unread(), "");
    EXPECT_EQ(Drive().Revision(), "1.00");
}

TEST_F(TerminalRun, UnattendedWaitsForNobody) {
    AddDrives("");
    WriteImage();
    Screen screen("y\n");
    Install(screen, true, false, true);
    CWinApp app;
    {
        CAutoDlg dialog;
        app.m_pMainWnd = &dialog;
        EXPECT_EQ(app.Run(), 0);
        app.m_pMainWnd = nullptr;
    }
    EXPECT_EQ(Drive().Revision(), "1.10");
    EXPECT_EQ(screen.Unread(), "y\n");
    EXPECT_EQ(screen.Printed(), "now updating... 34 seconds\nnow updating... ended at: 34 seconds\n");
}

}  // namespace
