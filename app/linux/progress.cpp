#include "app/linux/progress.h"

#include "os/linux/text.h"
#include "os/time.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

size_t DisplayColumns(const std::string& text) {
    size_t columns = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                          (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                          (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                          (code >= 0xFFE0 && code <= 0xFFE6);
        columns += wide ? 2 : 1;
        i += length;
    }
    return columns;
}

unsigned Console::Columns() const {
    struct winsize size = {};
    if (m_terminal && ::ioctl(::fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void Console::Print(const std::string& text) {
    if (m_lineOpen) EndLine();
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
}

void Console::Redraw(const std::string& text) {
    const size_t columns = DisplayColumns(text);
    std::string line = "\r" + text;
    if (columns < m_drawn) line += std::string(m_drawn - columns, ' ');
    std::fputs(line.c_str(), m_out);
    std::fflush(m_out);
    m_drawn = columns;
    m_lineOpen = true;
}

void Console::EndLine() {
    if (!m_lineOpen) return;
    m_lineOpen = false;
    m_drawn = 0;
    std::fputs("\n", m_out);
    std::fflush(m_out);
}

Progress::Progress(Console& console, uint32_t blocks, uint32_t blockSize, bool japanese)
    : m_console(console), m_blocks(blocks), m_blockSize(blockSize), m_language(TextLanguage(japanese)) {}

std::string Progress::Duration(uint64_t ms) {
    const uint64_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
    return text;
}

std::string Progress::Line(uint32_t done, uint64_t elapsedMs, unsigned columns) const {
    const unsigned long long bytes = static_cast<unsigned long long>(done) * m_blockSize;
    // Integer arithmetic: the same estimate on every build.
    const uint64_t leftMs = done ? elapsedMs * (m_blocks - done) / done : 0;
    const std::string elapsed = Duration(elapsedMs), left = done ? Duration(leftMs) : "?";
    const std::string of = std::to_string(done), blocks = std::to_string(m_blocks);
    const std::string words[4] = {
        TextIn(m_language, TXT_PROGRESS_LONG, {of, blocks, std::to_string(bytes), elapsed, left}),
        TextIn(m_language, TXT_PROGRESS_MEDIUM, {of, blocks, elapsed, left}),
        TextIn(m_language, TXT_PROGRESS_SHORT, {of, blocks, left}),
        of + "/" + blocks,
    };
    // The longest words that leave room for a bar of 10 or more, with the bar as wide
    // as it may be up to 30; at the narrowest, the count alone.
    constexpr unsigned kMostBar = 30, kLeastBar = 10;
    for (int w = 0; w < 3; ++w) {
        const size_t used = DisplayColumns(words[w]) + 2;  // the brackets
        if (used + kLeastBar >= columns) continue;
        const unsigned width = static_cast<unsigned>(std::min<size_t>(kMostBar, columns - 1 - used));
        const uint32_t filled = m_blocks ? done * width / m_blocks : 0;
        return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]" + words[w];
    }
    const std::string count = words[3];
    return count.size() < columns ? count : count.substr(0, columns > 1 ? columns - 1 : 0);
}

void Progress::Start() {
    if (m_started) return;
    m_started = true;
    m_startMs = OsTime().NowMs();
    if (m_console.IsTerminal()) m_console.Redraw(Line(0, 0, m_console.Columns()));
}

void Progress::Block(uint32_t done) {
    if (!m_started || m_ended || done <= m_done) return;
    m_done = done;
    const uint64_t elapsed = OsTime().NowMs() - m_startMs;
    if (m_console.IsTerminal()) {
        m_console.Redraw(Line(done, elapsed, m_console.Columns()));
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
    m_console.Print(TextIn(m_language, updated || m_done == m_blocks ? TXT_PROGRESS_WRITTEN : TXT_PROGRESS_STOPPED,
                           {std::to_string(m_done), std::to_string(m_blocks), std::to_string(bytes), Duration(elapsed)}) +
                    "\n");
}
