// What the terminal shows while the image is written: on a terminal one line that
// is redrawn (block n of 60, bytes, elapsed, time left from the rate so far); off a
// terminal a line every 10 blocks and a last one. It moves only when the drive has
// accepted a block, so it never shows more than was sent.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// The columns `text` (UTF-8) takes on a terminal: two for each wide (East Asian)
// character, one for any other.
size_t DisplayColumns(const std::string& text);

class Console {
public:
    Console(FILE* out, bool terminal) : m_out(out), m_terminal(terminal) {}
    bool IsTerminal() const { return m_terminal; }
    // The terminal's width now (asked each time, so a resized window counts at
    // once); 80 when it cannot be told.
    unsigned Columns() const;
    // Prints `text`; a redrawn line still open is ended first.
    void Print(const std::string& text);
    // Replaces the open line with `text` (terminal only).
    void Redraw(const std::string& text);
    void EndLine();

private:
    FILE* m_out;
    bool m_terminal;
    bool m_lineOpen = false;
    size_t m_drawn = 0;
};

class Progress {
public:
    Progress(Console& console, uint32_t blocks, uint32_t blockSize, bool japanese);
    // The transfer has been announced: the clock starts.
    void Start();
    // `done` blocks have been accepted.
    void Block(uint32_t done);
    // The update has ended; nothing is drawn after this.
    void End(bool updated);

    // "0:07", "12:05".
    static std::string Duration(uint64_t ms);
    // The line for `done` blocks after `elapsedMs`, in fewer than `columns` columns
    // (so that it never wraps): the bar and the words shorten as the width shrinks.
    std::string Line(uint32_t done, uint64_t elapsedMs, unsigned columns = 200) const;

private:
    Console& m_console;
    uint32_t m_blocks;
    uint32_t m_blockSize;
    int m_language;  // of the words
    bool m_started = false;
    bool m_ended = false;
    uint32_t m_done = 0;
    uint64_t m_startMs = 0;
};
