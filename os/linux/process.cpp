// The raw command line, the string table and its language on Linux.
#include "os/process.h"
#include "os/linux/linux_internal.h"
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
