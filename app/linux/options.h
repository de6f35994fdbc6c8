// The native program's command line: getopt_long over the options a Linux user
// expects, with `/au` still accepted for scripts written for the Windows program.
#pragma once
#include "engine/update.h"

#include <string>

// Exit codes of the Linux runs (interactive, --yes, --check). `quillmor /au` keeps
// 0 (updated) and 1 (anything else).
constexpr int EXIT_UPDATED = 0;        // --check: an update is possible
constexpr int EXIT_UPDATE_FAILED = 1;  // the eject was sent, and the update failed
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NOTHING_TO_DO = 3;  // the image is not newer
constexpr int EXIT_DRIVE = 4;          // none, several, not this model, not readable
constexpr int EXIT_IMAGE = 5;          // missing, incompatible, too short, unreadable
constexpr int EXIT_BUSY = 6;           // another updater runs, or the drive is in use
constexpr int EXIT_DECLINED = 7;       // the user said No
constexpr int EXIT_STILL_OLD = 8;      // written, and the drive still reports its old firmware
constexpr int EXIT_NOT_CONFIRMED = 9;  // written, and the drive did not answer within --wait
constexpr int EXIT_DRIVE_CHANGED = 10; // the drive was not the one checked when the update was to begin

// The longest --wait: an hour.
constexpr unsigned kMaxWaitSeconds = 3600;

struct CliOptions {
    bool help = false;
    bool version = false;
    bool yes = false;
    bool check = false;
    bool unattended = false;  // `/au`: the Windows program's unattended run, as it is
    bool verbose = false;     // -v: every drive command on standard error as it completes
    bool json = false;        // --json: the result as one JSON object on standard output
    bool quiet = false;       // -q: errors and the result only; no progress
    std::string device;       // /dev/srN; empty: every drive
    std::string image;        // empty: the image file in the current directory
    std::string log;
    std::string lang;         // "en", "ja"; empty: from the locale
    std::string sha256;       // --sha256: the image's expected SHA-256, lower-case hex; empty: none
    unsigned waitSeconds = CONFIRM_WAIT_MS / 1000;  // after the update, for the drive to answer again
};

// Parses argv. False with `error` set (one line, no program name, in the language
// of the messages) for an unknown option, a missing or bad value, a stray argument,
// or options that cannot go together.
bool ParseOptions(int argc, char** argv, CliOptions* options, std::string* error);

// "Usage: ...", the synopsis, and the whole help text in English or Japanese.
std::string UsageLine();
std::string HelpText(bool japanese);
// "quillmor 1.0.0": the version CMake's project() names.
std::string VersionText();

// The drive letter the program's device table uses for "/dev/srN" (N 0..23), after
// following symbolic links such as /dev/cdrom or /dev/disk/by-id/...; /dev/sgN
// stands for the sr device behind it in `sysfs`. 0 when the path names no such device.
char DeviceLetterForPath(const std::string& path, const std::string& sysfs = "/sys");
// "/dev/srN" for the letters C..Z that table uses; "?" for any other.
std::string DevicePathOfLetter(char letter);
