// The raw command line, the string table and its language on Linux, and the
// program's own texts filled in.
#include "os/process.h"
#include "os/linux/linux_internal.h"
#include "os/linux/text.h"
#include "res/strings.h"

#include <atomic>
#include <cstring>
#include <string>

namespace {
std::string& CommandLine() {
    static std::string line;
    return line;
}

std::atomic<int> g_fixedLanguage{0};
}  // namespace

const char* OsGetCommandLine() { return CommandLine().c_str(); }

void OsSetCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc && argv && argv[i]; ++i) {
        if (i > 0) line += ' ';
        line += argv[i];
    }
    CommandLine() = line;
}

int CopyStringTruncated(const char* text, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    if (!text) return 0;
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(size - 1)) {
        length = static_cast<size_t>(size - 1);
        // Back off over continuation bytes so that no character is cut in two.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

int OsResourceLanguage() {
    const int fixed = g_fixedLanguage.load();
    if (fixed != 0) return fixed;
    return LocaleIsJapanese("LC_MESSAGES") ? LANG_JAPANESE_JP : LANG_ENGLISH_US;
}

void OsSetResourceLanguage(int language) { g_fixedLanguage.store(language); }

int OsLoadString(unsigned id, char* buffer, int size) {
    return CopyStringTruncated(ResourceString(id, OsResourceLanguage()), buffer, size);
}

std::string FillPlaceholders(const char* pattern, const std::vector<std::string>& args) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '{' && p[1] >= '1' && p[1] <= '9' && p[2] == '}') {
            const size_t n = static_cast<size_t>(p[1] - '1');
            if (n < args.size()) {
                out += args[n];
                p += 2;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

int TextLanguage(bool japanese) { return japanese ? LANG_JAPANESE_JP : LANG_ENGLISH_US; }

std::string TextIn(int language, unsigned id, const std::vector<std::string>& args) {
    const char* pattern = ResourceString(id, language);
    if (pattern == nullptr) pattern = ResourceString(id, LANG_ENGLISH_US);
    return pattern ? FillPlaceholders(pattern, args) : std::string();
}

std::string Text(unsigned id, const std::vector<std::string>& args) { return TextIn(OsResourceLanguage(), id, args); }
