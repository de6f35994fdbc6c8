#include "app/linux/progress.h"

#include <algorithm>

#include "os/time.h"

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
    char words[4][160];
    if (m_japanese) {
        std::snprintf(words[0], sizeof words[0], " ブロック %u/%u  %llu バイト  経過 %s  残り約 %s", done, m_blocks, bytes,
                      elapsed.c_str(), left.c_str());
        std::snprintf(words[1], sizeof words[1], " ブロック %u/%u  経過 %s  残り約 %s", done, m_blocks, elapsed.c_str(),
                      left.c_str());
        std::snprintf(words[2], sizeof words[2], " %u/%u  残り %s", done, m_blocks, left.c_str());
    } else {
        std::snprintf(words[0], sizeof words[0], " block %u of %u  %llu bytes  %s elapsed  %s left", done, m_blocks,
                      bytes, elapsed.c_str(), left.c_str());
        std::snprintf(words[1], sizeof words[1], " block %u of %u  %s elapsed  %s left", done, m_blocks, elapsed.c_str(),
                      left.c_str());
        std::snprintf(words[2], sizeof words[2], " %u/%u  %s left", done, m_blocks, left.c_str());
    }
    std::snprintf(words[3], sizeof words[3], "%u/%u", done, m_blocks);
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
