#include "ui/terminal/terminal.h"

#include "res/resource.h"

namespace terminal {

namespace {

std::string ControlText(const headless::WindowState& state, int id) {
    const headless::ControlState* c = state.Control(id);
    return c ? c->text : std::string();
}

}  // namespace

FrontEnd::FrontEnd(const Options& options) : m_options(options) {}

FrontEnd::~FrontEnd() { Uninstall(); }

void FrontEnd::Install() {
    if (m_installed) return;
    headless::SetResponder(this);
    headless::SetObserver(this);
    m_installed = true;
}

void FrontEnd::Uninstall() {
    if (!m_installed) return;
    headless::SetObserver(nullptr);
    headless::SetResponder(nullptr);
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

int FrontEnd::ShowMessageBox(WindowHandle, const std::string& text, const std::string& caption, unsigned style) {
    Print("[" + caption + "]\n" + headless::WithoutCarriageReturns(text) + "\n");
    return headless::SafeAnswer(style);
}

void FrontEnd::OnWindowChanged(WindowHandle hwnd) {
    headless::WindowState state;
    if (!headless::GetWindowState(hwnd, &state)) return;
    if (state.templateId == IDD_INDICATOR) ShowCountdown(hwnd, &state);
}

void FrontEnd::OnWindowDestroyed(WindowHandle hwnd) {
    if (m_countdowns.count(hwnd)) ShowCountdown(hwnd, nullptr);
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

}  // namespace terminal
