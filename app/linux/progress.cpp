#include "app/linux/progress.h"

#include "os/time.h"

void Console::Print(const std::string& text) {
    if (m_lineOpen) EndLine();
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
}

void Console::Redraw(const std::string& text) {
    std::string line = "\r" + text;
    if (text.size() < m_drawn) line += std::string(m_drawn - text.size(), ' ');
    std::fputs(line.c_str(), m_out);
    std::fflush(m_out);
    m_drawn = text.size();
    m_lineOpen = true;
}

void Console::EndLine() {
    if (!m_lineOpen) return;
    m_lineOpen = false;
    m_drawn = 0;
    std::fputs("\n", m_out);
    std::fflush(m_out);
}

std::string Progress::Duration(uint64_t ms) {
    const uint64_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
    return text;
}

std::string Progress::Line(uint32_t done, uint64_t elapsedMs) const {
    constexpr uint32_t kWidth = 30;
    const uint32_t filled = m_blocks ? done * kWidth / m_blocks : 0;
    std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "]";
    const unsigned long long bytes = static_cast<unsigned long long>(done) * m_blockSize;
    // Integer arithmetic: the same estimate on every build.
    const uint64_t leftMs = done ? elapsedMs * (m_blocks - done) / done : 0;
    char text[200];
    if (m_japanese) {
        std::snprintf(text, sizeof text, "%s ブロック %u/%u  %llu バイト  経過 %s  残り約 %s", bar.c_str(), done,
                      m_blocks, bytes, Duration(elapsedMs).c_str(), done ? Duration(leftMs).c_str() : "?");
    } else {
        std::snprintf(text, sizeof text, "%s block %u of %u  %llu bytes  %s elapsed  %s left", bar.c_str(), done,
                      m_blocks, bytes, Duration(elapsedMs).c_str(), done ? Duration(leftMs).c_str() : "?");
    }
    return text;
}

void Progress::Start() {
    if (m_started) return;
    m_started = true;
    m_startMs = OsTime().NowMs();
    if (m_console.IsTerminal()) m_console.Redraw(Line(0, 0));
}

void Progress::Block(uint32_t done) {
    if (!m_started || m_ended || done <= m_done) return;
    m_done = done;
    const uint64_t elapsed = OsTime().NowMs() - m_startMs;
    if (m_console.IsTerminal()) {
        m_console.Redraw(Line(done, elapsed));
    } else if (done % 10 == 0 && done != m_blocks) {
        m_console.Print(Line(done, elapsed) + "\n");
    }
}

void Progress::End(bool updated) {
    if (!m_started || m_ended) return;
    m_ended = true;
    const uint64_t elapsed = OsTime().NowMs() - m_startMs;
    m_console.EndLine();
    const unsigned long long bytes = static_cast<unsigned long long>(m_done) * m_blockSize;
    char text[200];
    if (updated || m_done == m_blocks) {
        std::snprintf(text, sizeof text,
                      m_japanese ? "%u/%u ブロック (%llu バイト) を書き込みました (%s)\n"
                                 : "written: block %u of %u, %llu bytes, in %s\n",
                      m_done, m_blocks, bytes, Duration(elapsed).c_str());
    } else {
        std::snprintf(text, sizeof text,
                      m_japanese ? "%u/%u ブロック (%llu バイト) で停止しました (%s)\n"
                                 : "stopped: block %u of %u accepted, %llu bytes, after %s\n",
                      m_done, m_blocks, bytes, Duration(elapsed).c_str());
    }
    m_console.Print(text);
}
