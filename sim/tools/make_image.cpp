// qm-make-image: writes a synthetic firmware image, or prints a file's digest as
// the emulated drive computes it for what it received.
#include "sim/image.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
const char kUsage[] =
    "usage: qm-make-image [-o PATH] [--version VVVV] [--date YY/MM/DD]\n"
    "                     [--id TEXT | --wrong-id] [--signature TEXT | --wrong-signature]\n"
    "                     [--length BYTES] [--seed N] [--print-digest]\n"
    "       qm-make-image --digest-of FILE\n"
    "Writes Q5518306.707 (or PATH): the header fields at 96, 144, 176, 208 and 304\n"
    "over a deterministic pseudo-random body of BYTES (default 1966080). Texts are\n"
    "written byte for byte, NUL-padded to their field; \\0 and \\xHH are understood.\n"
    "The digest is FNV-1a 64 over the first 1966080 bytes, as the drive reports it.\n";

// "\0" and "\xHH" in command-line texts, so that fields with NULs can be made.
bool Unescape(const std::string& text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out->push_back(text[i]);
            continue;
        }
        const char c = text[++i];
        if (c == '0') {
            out->push_back('\0');
        } else if (c == '\\') {
            out->push_back('\\');
        } else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out->push_back(char(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

bool ParseCount(const char* text, uint64_t* value) {
    errno = 0;
    char* end = nullptr;
    if (*text == '-') return false;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || end == text) return false;
    *value = v;
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    SimImageOptions options;
    std::string path = SIM_IMAGE_FILE_NAME;
    bool printDigest = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto text = [&](std::string* to) {
            if (!value || !Unescape(value, to)) return false;
            ++i;
            return true;
        };
        bool ok = true;
        if (arg == "-o" && value) {
            path = value;
            ++i;
        } else if (arg == "--version") {
            ok = text(&options.version);
        } else if (arg == "--date") {
            ok = text(&options.buildDate);
        } else if (arg == "--id") {
            ok = text(&options.identification);
        } else if (arg == "--wrong-id") {
            options.identification = "TORVELL DVD-RW  WKZ4470 ";
        } else if (arg == "--signature") {
            ok = text(&options.signature);
        } else if (arg == "--wrong-signature") {
            options.signature = "0082VARNDX  5518";
        } else if (arg == "--length") {
            // Beyond a few times the firmware area an image is no test of anything.
            ok = value && ParseCount(value, &options.length) && options.length <= 64u * 1024 * 1024;
            ++i;
        } else if (arg == "--seed") {
            ok = value && ParseCount(value, &options.seed);
            ++i;
        } else if (arg == "--print-digest") {
            printDigest = true;
        } else if (arg == "--digest-of" && value) {
            uint64_t digest = 0;
            if (!SimDigestFile(value, &digest)) {
                std::fprintf(stderr, "qm-make-image: cannot read %s\n", value);
                return 1;
            }
            std::printf("%s\n", SimDigestText(digest).c_str());
            return 0;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "qm-make-image: bad argument '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    std::string error;
    if (!SimWriteImage(path, options, &error)) {
        std::fprintf(stderr, "qm-make-image: %s\n", error.c_str());
        return 1;
    }
    if (printDigest) {
        const std::vector<uint8_t> image = SimMakeImage(options);
        const size_t sent = image.size() < SIM_FIRMWARE_AREA_SIZE ? image.size() : SIM_FIRMWARE_AREA_SIZE;
        std::printf("%s\n", SimDigestText(SimDigest(image.data(), sent)).c_str());
    }
    return 0;
}
