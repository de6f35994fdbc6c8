#include "app/linux/options.h"

#include "app/linux/image_sha256.h"
#include "os/linux/device_path.h"
#include "os/linux/text.h"
#include "os/process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <getopt.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kOptCheck = 256;
constexpr int kOptLog = 257;
constexpr int kOptLang = 258;
constexpr int kOptWait = 259;
constexpr int kOptSha256 = 260;
constexpr int kOptJson = 261;

const struct option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},      {"version", no_argument, nullptr, 'V'},
    {"device", required_argument, nullptr, 'd'}, {"image", required_argument, nullptr, 'i'},
    {"yes", no_argument, nullptr, 'y'},       {"check", no_argument, nullptr, kOptCheck},
    {"log", required_argument, nullptr, kOptLog}, {"lang", required_argument, nullptr, kOptLang},
    {"wait", required_argument, nullptr, kOptWait}, {"verbose", no_argument, nullptr, 'v'},
    {"sha256", required_argument, nullptr, kOptSha256},
    {"json", no_argument, nullptr, kOptJson}, {"quiet", no_argument, nullptr, 'q'},
    {nullptr, 0, nullptr, 0},
};

// `path` with every symbolic link along it followed (at most 40), without asking
// that the end exist; "" when a link cannot be read.
std::string FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) return errno == EINVAL || errno == ENOENT ? path : std::string();
        target[n] = 0;
        const size_t slash = path.rfind('/');
        path = target[0] == '/' ? std::string(target) : path.substr(0, slash + 1) + target;
    }
    return std::string();
}

// A usage error in the language of the messages: the one --lang gave, when it
// came before the error, else the locale's.
std::string UsageError(const CliOptions& options, unsigned id, const std::vector<std::string>& args = {}) {
    const int language = options.lang.empty() ? OsResourceLanguage() : TextLanguage(options.lang == "ja");
    return TextIn(language, id, args);
}

// "/dev/./disk/../sr0" as "/dev/sr0".
std::string Tidy(const std::string& path) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t next = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, next - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = next + 1;
    }
    std::string tidy;
    for (const std::string& part : parts) tidy += "/" + part;
    return tidy;
}

// The sr device behind /dev/sgN, through sysfs: "" when there is none.
std::string SrBehindSg(const std::string& path, const std::string& sysfs) {
    if (path.compare(0, 7, "/dev/sg") != 0) return std::string();
    const std::string name = path.substr(5);
    if (name.size() < 3 || name.find_first_not_of("0123456789", 2) != std::string::npos) return std::string();
    DIR* dir = ::opendir((sysfs + "/class/scsi_generic/" + name + "/device/block").c_str());
    if (dir == nullptr) return std::string();
    std::string sr;
    while (dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, "sr", 2) == 0) sr = std::string("/dev/") + entry->d_name;
    ::closedir(dir);
    return sr;
}

}  // namespace

char DeviceLetterForPath(const std::string& path, const std::string& sysfs) {
    if (char letter = DriveLetterForDevicePath(path.c_str())) return letter;
    const std::string resolved = Tidy(FollowLinks(path));
    if (resolved.empty()) return 0;
    if (char letter = DriveLetterForDevicePath(resolved.c_str())) return letter;
    return DriveLetterForDevicePath(SrBehindSg(resolved, sysfs).c_str());
}

std::string DevicePathOfLetter(char letter) {
    const std::string path = DevicePathForLetter(letter);
    return path.empty() ? "?" : path;
}

bool ParseOptions(int argc, char** argv, CliOptions* options, std::string* error) {
    *options = CliOptions();
    error->clear();
    // getopt keeps its place between calls: start afresh, quietly (errors are ours).
    optind = 0;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":hVd:i:yvq", kLongOptions, nullptr)) != -1) {
        // An empty value is never "not given": `--device ""` must not mean every drive.
        if (optarg && *optarg == 0 && c != ':' && c != '?') {
            // The value was its own argument, or stood after '=' in the option's.
            std::string name = optarg == argv[optind - 1] && optind >= 2 ? argv[optind - 2] : argv[optind - 1];
            name = name.substr(0, name.find('='));
            *error = UsageError(*options, TXT_OPTION_EMPTY_VALUE, {name});
            return false;
        }
        switch (c) {
        case 'h': options->help = true; break;
        case 'V': options->version = true; break;
        case 'd': options->device = optarg; break;
        case 'i': options->image = optarg; break;
        case 'y': options->yes = true; break;
        case 'v':
            // One level of detail: a second -v would promise more than it gives.
            if (options->verbose) {
                *error = UsageError(*options, TXT_VERBOSE_TWICE);
                return false;
            }
            options->verbose = true;
            break;
        case kOptCheck: options->check = true; break;
        case kOptJson: options->json = true; break;
        case 'q': options->quiet = true; break;
        case kOptLog: options->log = optarg; break;
        case kOptWait: {
            char* end = nullptr;
            errno = 0;
            const unsigned long seconds = std::strtoul(optarg, &end, 10);
            if (*optarg < '0' || *optarg > '9' || *end != 0 || errno != 0 || seconds > kMaxWaitSeconds) {
                *error = UsageError(*options, TXT_BAD_WAIT, {std::to_string(kMaxWaitSeconds), optarg});
                return false;
            }
            options->waitSeconds = static_cast<unsigned>(seconds);
            break;
        }
        case kOptSha256:
            if (!ParseSha256(optarg, &options->sha256)) {
                *error = UsageError(*options, TXT_BAD_SHA256, {optarg});
                return false;
            }
            break;
        case kOptLang:
            if (std::strcmp(optarg, "en") != 0 && std::strcmp(optarg, "ja") != 0) {
                *error = UsageError(*options, TXT_BAD_LANG, {optarg});
                return false;
            }
            options->lang = optarg;
            break;
        case ':':
            *error = UsageError(*options, TXT_OPTION_NEEDS_VALUE, {argv[optind - 1]});
            return false;
        default:
            *error = UsageError(*options, TXT_OPTION_UNKNOWN, {argv[optind - 1]});
            return false;
        }
    }
    for (int i = optind; i < argc; ++i) {
        // The Windows program's switch, as its rule reads it: anything may follow.
        if (std::strncmp(argv[i], "/au", 3) == 0) {
            options->unattended = true;
            continue;
        }
        *error = UsageError(*options, TXT_ARGUMENT_UNEXPECTED, {argv[i]});
        return false;
    }
    if (options->help || options->version) return true;
    if (!options->device.empty() && DeviceLetterForPath(options->device) == 0) {
        *error = UsageError(*options, TXT_BAD_DEVICE, {options->device});
        return false;
    }
    if (options->quiet && options->verbose) {
        *error = UsageError(*options, TXT_QUIET_AND_VERBOSE);
        return false;
    }
    if (options->yes && options->check) {
        *error = UsageError(*options, TXT_CHECK_AND_YES);
        return false;
    }
    if (options->unattended &&
        (options->yes || options->check || options->verbose || options->json || options->quiet ||
         !options->image.empty() || !options->sha256.empty())) {
        *error = UsageError(*options, TXT_UNATTENDED_OPTIONS);
        return false;
    }
    return true;
}

std::string UsageLine() { return Text(TXT_USAGE); }

std::string HelpText(bool japanese) {
    const int language = TextLanguage(japanese);
    return TextIn(language, TXT_HELP, {TextIn(language, TXT_USAGE)});
}

std::string VersionText() { return std::string("quillmor ") + QM_VERSION; }
