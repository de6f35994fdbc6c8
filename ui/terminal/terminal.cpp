#include "ui/terminal/terminal.h"

#include "ui/updater_common.h"
#include "ui/updater_dialog.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace terminal {

namespace {

constexpr int kMaxAttempts = 5;

std::string WithoutCarriageReturns(const std::string& text) {
    std::string plain;
    for (char ch : text)
        if (ch != '\r') plain += ch;
    return plain;
}

std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

std::string Lower(std::string text) {
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

std::string ControlText(const headless::WindowState& state, int id) {
    const headless::ControlState* c = state.Control(id);
    return c ? c->text : std::string();
}

bool ControlEnabled(const headless::WindowState& state, int id) {
    const headless::ControlState* c = state.Control(id);
    return c && c->enabled;
}

// The live main dialog, if any.
bool FindMainDialog(headless::WindowState* state) {
    for (WindowHandle hwnd : headless::FindWindows(IDD_UPDATER_DIALOG)) {
        if (headless::GetWindowState(hwnd, state) && !state->ended) return true;
    }
    return false;
}

}  // namespace

FrontEnd::FrontEnd(const Options& options) : m_options(options) {}

FrontEnd::~FrontEnd() { Uninstall(); }

void FrontEnd::Install() {
    if (m_installed) return;
    m_session.m_system = &OsSession();
    OsSetSession(&m_session);
    headless::SetResponder(this);
    headless::SetObserver(this);
    headless::SetIdleHook([this] { return OnIdle(); });
    m_installed = true;
}

void FrontEnd::Uninstall() {
    if (!m_installed) return;
    headless::SetIdleHook(nullptr);
    headless::SetObserver(nullptr);
    headless::SetResponder(nullptr);
    OsSetSession(m_session.m_system);
    m_installed = false;
}

void FrontEnd::Print(const std::string& text) {
    // Worker threads print their message boxes too.
    std::lock_guard<std::mutex> lock(m_printMutex);
    std::string out = text;
    // Anything but the countdown's own redraw first ends the countdown's line.
    if (m_openLine != 0 && (out.empty() || out[0] != '\r')) {
        out.insert(0, "\n");
        m_openLine = 0;
    }
    std::fputs(out.c_str(), m_options.out);
    std::fflush(m_options.out);
}

WindowHandle FrontEnd::OpenLine() {
    std::lock_guard<std::mutex> lock(m_printMutex);
    return m_openLine;
}

bool FrontEnd::CanAsk() const { return m_options.inIsTerminal && !m_options.unattended && m_options.in; }

bool FrontEnd::ReadLine(std::string* line) {
    line->clear();
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, m_options.in)) {
        *line += buffer;
        if (!line->empty() && line->back() == '\n') {
            line->pop_back();
            return true;
        }
    }
    return !line->empty();
}

bool FrontEnd::AskYesNo(const std::string& question) {
    if (!CanAsk()) {
        Print(question + " No (nobody to answer)\n");
        return false;
    }
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        Print(question + " [y/N] ");
        std::string answer;
        if (!ReadLine(&answer)) {
            Print("\n");
            return false;
        }
        answer = Lower(TrimRight(answer));
        if (answer == "y" || answer == "yes") return true;
        if (answer.empty() || answer == "n" || answer == "no") return false;
    }
    return false;
}

int FrontEnd::ShowMessageBox(WindowHandle, const std::string& text, const std::string& caption, unsigned style) {
    Print("[" + caption + "]\n" + WithoutCarriageReturns(text) + "\n");
    switch (style & MB_TYPEMASK) {
    case MB_YESNO:
        return AskYesNo("Answer:") ? IDYES : IDNO;
    case MB_OKCANCEL: {
        if (!CanAsk()) {
            Print("Cancel (nobody to answer)\n");
            return IDCANCEL;
        }
        Print("Press Enter for OK, or type c for Cancel: ");
        std::string answer;
        if (!ReadLine(&answer)) {
            Print("\n");
            return IDCANCEL;
        }
        answer = Lower(TrimRight(answer));
        return (answer == "c" || answer == "cancel") ? IDCANCEL : IDOK;
    }
    default:
        return IDOK;  // nothing to decide: the box does not wait
    }
}

void FrontEnd::OnWindowChanged(WindowHandle hwnd) {
    headless::WindowState state;
    if (!headless::GetWindowState(hwnd, &state)) return;
    if (state.templateId == IDD_UPDATER_DIALOG) {
        ShowMainDialog(state);
    } else if (state.templateId == IDD_INDICATOR) {
        ShowCountdown(hwnd, &state);
    }
}

void FrontEnd::OnWindowDestroyed(WindowHandle hwnd) {
    if (m_countdowns.count(hwnd)) ShowCountdown(hwnd, nullptr);
}

void FrontEnd::ShowMainDialog(const headless::WindowState& state) {
    const headless::ControlState* combo = state.Control(IDC_DRIVE_COMBO);
    if (combo && combo->curSel >= 0 && (combo->items != m_printedDrives || combo->curSel != m_printedSelection)) {
        std::string list = "Drives found:\n";
        for (size_t i = 0; i < combo->items.size(); ++i) {
            list += "  " + std::to_string(i + 1) + ". " + combo->items[i] + "\n";
        }
        list += "Selected: " + combo->items[static_cast<size_t>(combo->curSel)] + "\n";
        Print(list);
        m_printedDrives = combo->items;
        m_printedSelection = combo->curSel;
    }

    const std::string name = TrimRight(ControlText(state, IDC_DRIVE_NAME));
    const std::string current = ControlText(state, IDC_CURRENT_VERSION);
    const std::string next = ControlText(state, IDC_NEW_VERSION);
    if (!name.empty() && !current.empty() && !next.empty()) {
        const std::string versions = "Drive: " + name + "\nFirmware version: current " + current +
                                     " --> following " + next + "\n";
        if (versions != m_printedVersions) {
            Print(versions);
            m_printedVersions = versions;
        }
    }
    if (!ControlEnabled(state, IDC_UPDATE)) m_askedThisTime = false;
}

bool FrontEnd::OnIdle() {
    headless::WindowState state;
    if (!FindMainDialog(&state)) return false;
    if (!state.visible || !state.enabled || !ControlEnabled(state, IDC_UPDATE)) {
        m_askedThisTime = false;
        return false;
    }
    const std::string current = ControlText(state, IDC_CURRENT_VERSION);
    const std::string next = ControlText(state, IDC_NEW_VERSION);
    std::string drive = TrimRight(ControlText(state, IDC_DRIVE_NAME));
    if (current.empty() || next.empty() || drive.empty() || m_askedThisTime) return false;

    // Name the drive by its letter too when the list shows one ("D: ...").
    const headless::ControlState* combo = state.Control(IDC_DRIVE_COMBO);
    if (combo && combo->curSel >= 0 && static_cast<size_t>(combo->curSel) < combo->items.size()) {
        const std::string& item = combo->items[static_cast<size_t>(combo->curSel)];
        if (item.size() >= 2 && item[1] == ':') drive = item.substr(0, 2) + " " + drive;
    }
    const bool update = AskYesNo("Update the firmware of " + drive + " from " + current + " to " + next + "?");
    // The question stands in for the "update" button; No is the "close" button.
    // An update disables the button until it has ended, which asks again; one that
    // the dialog refuses at once (it has told why) leaves the button as it was, and
    // the question then stands again as the button does.
    m_askedThisTime = !update;
    headless::Click(state.hwnd, update ? IDC_UPDATE : IDCANCEL);
    return true;
}

void FrontEnd::ShowCountdown(WindowHandle hwnd, const headless::WindowState* state) {
    Countdown& c = m_countdowns[hwnd];
    if (c.finished) return;
    const bool live = state && state->visible && !state->ended;
    const std::string previous = c.text;
    if (state) {
        c.caption = state->caption;
        c.text = ControlText(*state, IDC_SECONDS_LEFT);
    }
    const std::string line = c.caption + " " + c.text;
    if (live && !c.started) {
        c.started = true;
        if (m_options.outIsTerminal) {
            Print(line);
            c.drawnLength = line.size();
            std::lock_guard<std::mutex> lock(m_printMutex);
            m_openLine = hwnd;
        } else {
            Print(line + "\n");
        }
        return;
    }
    if (!c.started) return;
    if (live) {
        if (m_options.outIsTerminal && OpenLine() == hwnd && c.text != previous) {
            std::string redraw = "\r" + line;
            if (line.size() < c.drawnLength) redraw += std::string(c.drawnLength - line.size(), ' ');
            Print(redraw);
            c.drawnLength = line.size();
        }
        return;
    }
    c.finished = true;
    if (m_options.outIsTerminal) {
        if (OpenLine() == hwnd) Print("");  // ends the line
    } else {
        Print(c.caption + " ended at: " + c.text + "\n");
    }
}

bool FrontEnd::Session::GetScreenSaverActive(int* active) { return m_system->GetScreenSaverActive(active); }
void FrontEnd::Session::SetScreenSaverActive(bool active) { m_system->SetScreenSaverActive(active); }
void FrontEnd::Session::EnableShutdownPrivilege() {}

void FrontEnd::Session::ForceRestart() {
    m_owner.Print(
        "The machine is not restarted by quillmor: restart it yourself now, so that the drive "
        "starts with its new firmware.\n");
    // The session "ends" for this process: the dialog's loop ends as it would.
    AfxPostQuitMessage(0);
}

namespace {
void OnSignal(int signal) {
    if (g_updateRunning.load()) {
        static const char kNote[] =
            "\nquillmor: the firmware is being written to the drive; the update cannot be interrupted.\n";
        ssize_t ignored = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
        (void)ignored;
        return;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
}  // namespace

void GuardSignalsDuringUpdate() {
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = &OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(s, &action, nullptr);
    }
}

}  // namespace terminal
