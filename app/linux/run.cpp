#include "app/linux/run.h"

#include "app/linux/image_sha256.h"
#include "app/linux/progress.h"
#include "commands/commands.h"
#include "engine/image.h"
#include "engine/messages.h"
#include "engine/scan_probe.h"
#include "engine/session.h"
#include "engine/update.h"
#include "os/device.h"
#include "os/file.h"
#include "os/linux/text.h"
#include "os/named.h"
#include "os/process.h"
#include "os/time.h"
#include "res/strings.h"
#include "transport/sense.h"
#include "transport/transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kMaxAttempts = 5;

bool Japanese() { return OsResourceLanguage() == LANG_JAPANESE_JP; }

std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// A message box's text as a terminal shows it: lines end in LF alone.
std::string WithoutCarriageReturns(const std::string& text) {
    std::string out;
    for (char ch : text)
        if (ch != '\r') out += ch;
    return out;
}

// One drive found by discovery.
struct FoundDrive {
    char letter;
    InquiryFields id;
};

std::string DriveLine(const FoundDrive& d) {
    return DevicePathOfLetter(d.letter) + "  " + d.id.model + "  " + d.id.revision + "  " + d.id.date;
}

// Discovery on worker probes, keeping what each drive's INQUIRY told, in the
// order of g_devices.
class ListingScan : public WorkerScanHost {
public:
    explicit ListingScan(WorkerHost* host) : WorkerScanHost(host) {}
    void ClearDriveList() override { found.clear(); }
    void DriveFound(const uint8_t* inquiry, uint32_t length) override {
        found.push_back(DecodeInquiry(inquiry, length));
    }
    std::vector<InquiryFields> found;
};

class Terminal : public WorkerHost {
public:
    Terminal(const RunIo& io, DriveWatch& watch) : m_io(io), m_console(io.out, io.outIsTerminal), m_watch(watch) {}

    Console& Screen() { return m_console; }
    void Say(const std::string& text) {
        lastSaid = text;
        m_console.Print(text + "\n");
    }
    // What the run is doing, for the user who watches it: none of it with -q.
    void Info(const std::string& text) {
        if (!quiet) m_console.Print(text);
    }
    // What the run found or did, on standard output, where a script reads it; with
    // --json standard output holds the JSON object alone, and the words go with the
    // diagnostics (the object carries them as its reason).
    void Result(const std::string& text) {
        reason = text;
        while (!reason.empty() && reason.back() == '\n') reason.pop_back();
        if (json) {
            Say(reason);
            return;
        }
        PrintResult(text.empty() || text.back() != '\n' ? text + "\n" : text);
    }
    void PrintResult(const std::string& text) {
        m_console.EndLine();
        std::fputs(text.c_str(), m_io.results);
        std::fflush(m_io.results);
    }

    bool json = false;
    bool quiet = false;
    std::string reason;    // the last result told
    std::string lastSaid;  // the last line told, the reason of a run that ended before a result
    std::string decision;  // --check: its decision, in one word
    std::string confirmed; // after an update: the revision the drive reports

    bool CanAsk() const { return m_io.inIsTerminal && m_io.in; }

    bool ReadLine(std::string* line) {
        line->clear();
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, m_io.in)) {
            *line += buffer;
            if (line->back() == '\n') {
                line->pop_back();
                return true;
            }
        }
        return !line->empty();
    }

    bool AskYesNo(const std::string& question) {
        if (!CanAsk()) {
            Say(Text(TXT_NO_TERMINAL_NO, {question}));
            return false;
        }
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            m_console.Print(Text(TXT_ASK_YES_NO, {question}));
            std::string answer;
            if (!ReadLine(&answer)) {
                m_console.Print("\n");
                return false;
            }
            answer = TrimRight(answer);
            for (char& ch : answer)
                if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
            if (answer == "y" || answer == "yes") return true;
            if (answer.empty() || answer == "n" || answer == "no") return false;
        }
        return false;
    }

    void WaitForEnter() {
        if (!CanAsk()) return;
        m_console.Print(Text(TXT_PRESS_ENTER));
        std::string ignored;
        if (!ReadLine(&ignored)) m_console.Print("\n");
    }

    // The worker's side: messages of the engine, the transfer announcement.
    void PostWorkerNotify(unsigned code, long) override {
        if (code == NOTIFY_TRANSFER_STARTED && progress) progress->Start();
    }
    bool MayChangeTheDrive() override { return !beforeEject || beforeEject(); }
    void EngineMessageShown(unsigned id) override {
        m_shown.push_back(id);
        m_showing = id;
    }
    int ShowMessageBox(const char* text, const char* caption, unsigned) override {
        const std::string t = WithoutCarriageReturns(text ? text : "");
        m_watch.Note("message: " + t);
        std::string out = std::string("[") + (caption ? caption : "") + "]\n" + t + "\n";
        if (m_showing == IDS_COMMAND_ERROR) {
            if (const unsigned meaning = LastSenseMeaning()) out += Text(TXT_SENSE_MEANING, {Text(meaning)}) + "\n";
        }
        m_showing = 0;
        m_console.Print(out);
        return IDOK;
    }

    // Whether the engine, or the run, showed message `id`.
    bool Shown(unsigned id) const { return std::find(m_shown.begin(), m_shown.end(), id) != m_shown.end(); }
    // A message of the string table, as a box would show it.
    void Message(unsigned id, const std::string& tail = std::string()) { ShowEngineMessage(*this, id, tail, MB_OK); }

    Progress* progress = nullptr;
    // Looks at the drive again right before the eject; false stops the update there.
    std::function<bool()> beforeEject;

private:
    std::vector<unsigned> m_shown;
    unsigned m_showing = 0;
    RunIo m_io;
    Console m_console;
    DriveWatch& m_watch;
};

// Picks one of several drives by number or path; 0 when the user gives none.
char AskWhichDrive(Terminal& term, const std::vector<FoundDrive>& drives) {
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        term.Screen().Print(Text(TXT_WHICH_DRIVE));
        std::string answer;
        if (!term.ReadLine(&answer)) {
            term.Screen().Print("\n");
            return 0;
        }
        answer = TrimRight(answer);
        for (size_t i = 0; i < drives.size(); ++i) {
            if (answer == std::to_string(i + 1) || answer == DevicePathOfLetter(drives[i].letter)) return drives[i].letter;
        }
        if (!answer.empty()) {
            const char letter = DeviceLetterForPath(answer);
            for (const FoundDrive& d : drives)
                if (letter != 0 && d.letter == letter) return letter;
        }
        term.Say(Text(TXT_NO_SUCH_DRIVE));
    }
    return 0;
}

// The image's header fields as the file holds them, for the log.
std::string HeaderFields(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[IMAGE_HEADER_END] = {};
    if (!in.read(header, sizeof header)) return "header unreadable";
    auto field = [&](uint32_t offset, uint32_t length) {
        std::string text;
        for (uint32_t i = 0; i < length; ++i) {
            const unsigned char ch = static_cast<unsigned char>(header[offset + i]);
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", ch);
            text += (ch >= 0x20 && ch < 0x7F) ? std::string(1, static_cast<char>(ch)) : std::string(hex);
        }
        return "\"" + text + "\"";
    };
    return "identification=" + field(IMAGE_ID_OFFSET, 24) + " version=" + field(IMAGE_VERSION_OFFSET, 4) +
           " signature=" + field(IMAGE_SIGNATURE1_OFFSET, 8) + field(IMAGE_SIGNATURE2_OFFSET, 8) +
           " date=" + field(IMAGE_DATE_OFFSET, IMAGE_DATE_LENGTH);
}

// The drive the run works on, and what identifying it and the image found.
struct Target {
    char letter = 0;
    std::string device;  // /dev/srN
    InquiryFields id;    // what its INQUIRY told when it was judged
    std::string imagePath;
    // Of the whole file, read before any drive was asked (--check, --sha256, --log,
    // --json); then of the bytes validated, once they are held.
    std::string sha256;
    VersionRecord record{};
    int needed = IMAGE_UNREADABLE;  // the version rule's answer
    // Read when the drive was judged (updates only): the drive must still show it
    // right before the eject.
    DriveIdentity identity{};
};

// After a failure the warning goes by what the drive reports when asked once, not
// by what was sent to it; only a drive that cannot tell is judged by whether a mode
// switch or a block reached it. True when the drive is (or may be) without firmware.
bool LacksFirmware(DriveWatch& watch, const Target& target) {
    int firmware = FIRMWARE_UNTOLD;
    AskOnFreshOpen(target.letter, [&] { firmware = ReadFirmwarePresence(); });
    static const char* const kSaid[] = {"valid firmware", "no valid firmware", "nothing that tells"};
    watch.Note(std::string("after the failure the drive reports ") + kSaid[firmware]);
    const bool sentChanges = watch.ModeSwitchesSent() > 0 || watch.BlocksAccepted() > 0;
    return firmware == FIRMWARE_ABSENT || (firmware == FIRMWARE_UNTOLD && sentChanges);
}

// "YYMMDD" as the drive and the image print it, "YY/MM/DD".
std::string ShownDate(const char* digits) {
    const std::string d = digits;
    return d.size() == 6 ? d.substr(0, 2) + "/" + d.substr(2, 2) + "/" + d.substr(4, 2) : d;
}

// Vendor and product, revision and date of an INQUIRY reply, as far as it arrived.
std::string InquiryText(const uint8_t* data, uint32_t length) {
    const InquiryFields id = DecodeInquiry(data, length);
    if (id.revision.empty()) return Text(TXT_NO_REVISION);
    return id.model + "  " + id.revision + (id.date.empty() ? std::string() : "  " + id.date);
}

// Right before the eject: the drive must still be the one judged, INQUIRY (model,
// revision, date) and identification block alike. Otherwise says what changed.
bool SameDriveAsJudged(Terminal& term, const Target& target) {
    DriveIdentity now;
    const bool answered = ReadDriveIdentity(&now);
    if (answered && SameIdentity(now, target.identity)) return true;
    const DriveIdentity& then = target.identity;
    std::string what;
    if (!answered) {
        what = Text(TXT_CHANGED_NO_ANSWER);
    } else if (now.inquiryLength != then.inquiryLength || std::memcmp(now.inquiry, then.inquiry, now.inquiryLength) != 0) {
        what = Text(TXT_CHANGED_INQUIRY,
                    {InquiryText(then.inquiry, then.inquiryLength), InquiryText(now.inquiry, now.inquiryLength)});
    } else {
        what = Text(TXT_CHANGED_IDENTIFICATION);
    }
    term.Say(Text(TXT_DRIVE_CHANGED, {target.device, what}));
    return false;
}

// Whether `actual`, the image's SHA-256, is the one --sha256 gives (true when none
// is given); otherwise says both, and that `nothing` was done.
bool Sha256AsGiven(Terminal& term, DriveWatch& watch, const CliOptions& options, const std::string& path,
                   const std::string& actual, const std::string& nothing) {
    if (options.sha256.empty() || actual == options.sha256) return true;
    watch.Note("image SHA-256 " + (actual.empty() ? std::string("unreadable") : actual) + " is not --sha256 " +
               options.sha256);
    if (actual.empty()) {
        term.Say(Text(TXT_IMAGE_UNREADABLE, {path, nothing}));
        return false;
    }
    term.Say(Text(TXT_IMAGE_NOT_GIVEN, {path, actual, options.sha256, nothing}));
    return false;
}

// Right before the eject, the image the update holds: with --sha256 its bytes,
// which are the bytes sent, must be those of the file whose SHA-256 was given (a
// file swapped since the first look is caught here). Logged and told in --json
// with or without it.
bool HeldImageAsGiven(Terminal& term, DriveWatch& watch, const CliOptions& options, Target& target) {
    if (options.sha256.empty() && !watch.Logging() && !options.json) return true;
    const std::string held = HeldImageSha256(target.imagePath);
    watch.Note("image SHA-256 of the bytes held for the update: " + (held.empty() ? std::string("unreadable") : held));
    if (!held.empty()) target.sha256 = held;
    return Sha256AsGiven(term, watch, options, target.imagePath, held, Text(TXT_NOTHING_WRITTEN_TO_DRIVE));
}

// The one-updater mutex and the transfer buffers. False with `*exitCode` set when
// the run ends here.
bool StartUp(Terminal& term, int* exitCode) {
    // The same mutex as the Windows program's: one updater at a time, whichever.
    if (!TakeUpdaterMutex()) {
        term.Say(BusyText());
        *exitCode = EXIT_BUSY;
        return false;
    }
    if (!StartEngine()) {
        term.Say(Text(TXT_OUT_OF_MEMORY));
        *exitCode = EXIT_DRIVE;
        return false;
    }
    return true;
}

// Discovery, and the drive to work on: the only one, or the one the user picks
// when several answer (only an interactive run asks). False with `*exitCode` set
// when the run ends here.
bool ChooseTheDrive(Terminal& term, const CliOptions& options, bool interactive, DriveWatch& watch,
                    Target* target, int* exitCode) {
    ListingScan scan(&term);
    // Each probe claims its drive, so that none reaches a drive another run is writing.
    watch.ForgetRefusals();
    const int count = DiscoverDrives(scan);
    std::vector<FoundDrive> drives;
    for (int i = 0; i < count && i < static_cast<int>(scan.found.size()); ++i)
        drives.push_back(FoundDrive{static_cast<char>(g_devices[i].driveLetter), scan.found[size_t(i)]});
    watch.Note("drives found: " + std::to_string(drives.size()));
    const std::string inUse = watch.InUse();
    for (char busy : inUse) {
        term.Say(InUseText(DevicePathOfLetter(busy)));
        watch.Note("in use, not probed: " + DevicePathOfLetter(busy));
    }
    const std::string denied = watch.Denied();
    for (char refused : denied) {
        term.Say(Text(TXT_PERMISSION_DENIED, {DevicePathOfLetter(refused)}));
        watch.Note("permission denied, not probed: " + DevicePathOfLetter(refused));
    }
    if (drives.empty() && !denied.empty() && inUse.empty()) {
        *exitCode = EXIT_DRIVE;
        return false;
    }
    if (drives.empty() && !inUse.empty()) {
        term.Say(Text(TXT_NO_DRIVE_FREE));
        *exitCode = EXIT_BUSY;
        return false;
    }
    if (drives.empty()) {
        if (!options.device.empty()) {
            term.Say(Text(TXT_NOT_THE_DRIVE, {options.device}));
        } else {
            std::string probed;
            for (char letter : watch.Probed())
                if (denied.find(letter) == std::string::npos)
                    probed += (probed.empty() ? "" : " ") + DevicePathOfLetter(letter);
            term.Say(probed.empty() ? Text(TXT_NO_OPTICAL_DRIVE) : Text(TXT_NO_DRIVE_FOUND, {probed}));
        }
        *exitCode = EXIT_DRIVE;
        return false;
    }
    std::string list;
    for (size_t i = 0; i < drives.size(); ++i) list += "  " + std::to_string(i + 1) + ". " + DriveLine(drives[i]) + "\n";
    char letter = drives[0].letter;
    if (drives.size() > 1) {
        if (!interactive) {
            term.Say(Text(TXT_SEVERAL_DRIVES));
            term.Screen().Print(list);
            *exitCode = EXIT_DRIVE;
            return false;
        }
        term.Info(Text(TXT_DRIVES_FOUND) + "\n" + list);
        letter = AskWhichDrive(term, drives);
        if (letter == 0) {
            term.Result(Text(TXT_DECLINED));
            *exitCode = EXIT_DECLINED;
            return false;
        }
    } else if (interactive) {
        term.Info(Text(TXT_DRIVE_FOUND) + "\n" + list);
    }
    for (int i = 0; i < count; ++i)
        if (g_devices[i].driveLetter == static_cast<uint8_t>(letter)) g_selectedDevice = i;
    target->letter = letter;
    target->device = DevicePathOfLetter(letter);
    watch.Note("drive chosen: " + target->device);
    return true;
}

// Opens the chosen drive for this run alone, reads its INQUIRY and applies the
// version rule to the image. False with `*exitCode` set (and the drive closed)
// when the run ends here.
bool Identify(Terminal& term, const CliOptions& options, DriveWatch& watch, Target* target, int* exitCode) {
    const std::string& device = target->device;
    // Held by this run alone until it ends; a mounted disc or another claimant is
    // refused here, before any command that changes the drive.
    CloseDevice(g_hDevice);
    errno = 0;
    g_hDevice = OpenDeviceForUpdate(target->letter);
    if (g_hDevice == nullptr) {
        if (errno == EBUSY) {
            term.Say(InUseText(device));
            *exitCode = EXIT_BUSY;
            return false;
        }
        term.Say(Text(TXT_CANNOT_OPEN_DRIVE, {device, std::strerror(errno)}));
        *exitCode = EXIT_DRIVE;
        return false;
    }
    // Without the right to write, the update would open the tray and then fail at
    // its first WRITE BUFFER; say so now, while nothing has been sent.
    if (!options.check && !OsDevices().MayWriteFirmware(g_hDevice)) {
        CloseDevice(g_hDevice);
        term.Say(Text(TXT_NEEDS_ROOT, {device}));
        *exitCode = EXIT_DRIVE;
        return false;
    }
    ReadInquiry();

    const std::string& imagePath = target->imagePath;
    VersionRecord& record = target->record;
    target->needed = ImageUpdateNeeded(g_inquiryData, g_inquiryLength, imagePath.c_str(), record);
    target->id = DecodeInquiry(g_inquiryData, g_inquiryLength);
    if (target->needed == IMAGE_DRIVE_UNKNOWN) {
        CloseDevice(g_hDevice);
        term.Say(Text(TXT_REVISION_UNTOLD, {device}));
        *exitCode = EXIT_DRIVE;
        return false;
    }
    if (target->needed == IMAGE_UNREADABLE || !SetImagePath(imagePath.c_str())) {
        CloseDevice(g_hDevice);
        term.Message(IDS_IMAGE_NOT_FOUND, "\r\n" + imagePath);
        *exitCode = EXIT_IMAGE;
        return false;
    }
    // The header is read again only for the log: no run without one pays for it.
    if (watch.Logging()) watch.Note("image " + imagePath + ": " + HeaderFields(imagePath));
    watch.Note(std::string("drive ") + device + ": revision=" + record.currentVersion + " date=" + record.driveDate);
    watch.Note(std::string("version rule: ") +
               (target->needed == IMAGE_NEEDED ? "the image is newer" : "the image is not newer"));
    SetCheckedImage(record.imageVersion, record.imageDate);
    if (!options.check && target->needed == IMAGE_NEEDED) ReadDriveIdentity(&target->identity);
    return true;
}

// --check: exactly the update's validation, then the image is let go and one block
// tells the decision. Nothing is sent that changes the drive.
int CheckReport(Terminal& term, DriveWatch& watch, const CliOptions& options, Target& target) {
    const VersionRecord& record = target.record;
    const bool valid = ValidateImage(term) == 1;
    // Of the bytes validated, while they are held; else of the file as first read.
    const std::string sha256 = valid ? HeldImageSha256(target.imagePath) : target.sha256;
    if (valid) watch.Note("image SHA-256 of the bytes validated: " + (sha256.empty() ? std::string("unreadable") : sha256));
    if (!sha256.empty()) target.sha256 = sha256;
    CloseImage();
    // An earlier update stopped half-way leaves the state byte blank, or no valid
    // revision: such a drive needs the image written again, whatever it reports.
    const bool halfWritten = ReadFirmwarePresence() == FIRMWARE_ABSENT;
    CloseDevice(g_hDevice);
    int code = EXIT_UPDATED;
    std::string decision;
    if (!valid && term.Shown(IDS_COMMAND_ERROR)) {
        code = EXIT_DRIVE;
        term.decision = "cannot-tell";
        decision = Text(TXT_DECISION_CANNOT_TELL);
    } else if (!valid && term.Shown(IDS_INCOMPATIBLE_IMAGE)) {
        code = EXIT_IMAGE;
        term.decision = "incompatible";
        decision = Text(TXT_DECISION_INCOMPATIBLE);
    } else if (!valid) {
        // Refused without a word: the held copy of the image could not be made.
        code = EXIT_IMAGE;
        term.decision = "unreadable";
        decision = Text(TXT_DECISION_UNHELD);
    } else if (!options.sha256.empty() && sha256 != options.sha256) {
        code = EXIT_IMAGE;
        decision = Text(TXT_DECISION_NOT_GIVEN, {options.sha256});
    } else if (target.needed != IMAGE_NEEDED) {
        code = EXIT_NOTHING_TO_DO;
        term.decision = "not-newer";
        decision = Text(TXT_DECISION_NOT_NEWER);
    } else if (halfWritten) {
        term.decision = "write-again";
        decision = Text(TXT_DECISION_WRITE_AGAIN);
    } else {
        term.decision = "newer";
        decision = Text(TXT_DECISION_NEWER);
    }
    watch.Note("check: " + decision);
    if (halfWritten && code != EXIT_UPDATED)
        decision += Text(TXT_DECISION_HALF_WRITTEN);
    term.Result(Text(TXT_CHECK_REPORT,
                     {target.device + "  " + target.id.model + "  " + target.id.revision + "  " + target.id.date,
                      target.imagePath + "  " + record.imageVersion + "  " + ShownDate(record.imageDate),
                      sha256.empty() ? Text(TXT_UNREADABLE) : sha256, decision}));
    term.reason = decision;
    return code;
}

// What the drive reports once it answers again, against what was written: the
// sequence's own verdict rests on one state byte, which a drive that kept its old
// firmware shows as well.
int ConfirmAndReport(Terminal& term, DriveWatch& watch, const CliOptions& options, const Target& target) {
    const VersionRecord& judged = target.record;
    const std::string& device = target.device;
    VersionRecord now;
    const int confirmed = ConfirmFirmware(target.letter, judged, options.waitSeconds * 1000u, &now);
    const std::string image = std::string(judged.imageVersion) + " (" + ShownDate(judged.imageDate) + ")";
    const std::string reported = std::string(now.currentVersion) + " (" + ShownDate(now.driveDate) + ")";
    switch (confirmed) {
    case CONFIRM_NEW:
        term.confirmed = now.currentVersion;
        watch.Note("confirmed: the drive reports " + reported);
        term.Result(Text(TXT_UPDATED, {device, reported}));
        return EXIT_UPDATED;
    case CONFIRM_OLD:
        term.confirmed = now.currentVersion;
        watch.Note("not updated: the drive still reports " + reported);
        term.Result(Text(TXT_STILL_OLD, {device, reported, image}));
        return EXIT_STILL_OLD;
    case CONFIRM_NO_ANSWER:
        watch.Note("not confirmed: no answer within " + std::to_string(options.waitSeconds) + " s");
        term.Result(Text(TXT_NOT_CONFIRMED, {device, std::to_string(options.waitSeconds)}));
        return EXIT_NOT_CONFIRMED;
    default:
        watch.Note("not confirmed: the drive reports " + reported);
        term.Result((now.revisionArrived && now.dateArrived ? Text(TXT_FAILED_OTHER_REVISION, {device, reported, image})
                                                             : Text(TXT_FAILED_UNTOLD, {device})) +
                    (LacksFirmware(watch, target) ? "\n" + Text(TXT_NO_FIRMWARE, {device}) : std::string()));
        return EXIT_UPDATE_FAILED;
    }
}

// The disc warning and the last question (interactive runs), the update with its
// progress, and what the outcome means for the user.
int UpdateAndReport(Terminal& term, DriveWatch& watch, const CliOptions& options, bool interactive,
                    Target& target) {
    const VersionRecord& record = target.record;
    const std::string& device = target.device;
    if (target.needed != IMAGE_NEEDED) {
        CloseDevice(g_hDevice);
        term.Result(Text(TXT_NOTHING_TO_DO, {device, record.currentVersion, ShownDate(record.driveDate),
                                              record.imageVersion, ShownDate(record.imageDate)}));
        return EXIT_NOTHING_TO_DO;
    }
    // The safety warning comes once the drive and the image are known to be fit:
    // nothing the user agrees to here can be refused for a reason found later but
    // the drive's own answers.
    if (interactive) {
        term.Message(IDS_SAFETY_WARNING);
        if (!term.AskYesNo(Text(TXT_GO_ON))) {
            CloseDevice(g_hDevice);
            term.Result(Text(TXT_DECLINED));
            return EXIT_DECLINED;
        }
    }
    if (interactive && std::strcmp(record.currentVersion, "0000") != 0) {
        const bool disc = CheckDiscPresent(&term, target.letter);
        WaitForWorker(OS_WAIT_FOREVER);  // the check's worker used the shared request
        if (disc) {
            // The update goes on with the disc on the tray; the user is told, and
            // given the time to read it.
            term.Say(Text(TXT_DISC_IN_DRIVE));
            term.WaitForEnter();
        }
    }
    term.Info(Text(TXT_DRIVE_FIRMWARE, {device, target.id.model, record.currentVersion, record.imageVersion}) + "\n");
    if (interactive &&
        !term.AskYesNo(Text(TXT_UPDATE_QUESTION, {device, record.currentVersion, record.imageVersion}))) {
        CloseDevice(g_hDevice);
        term.Result(Text(TXT_DECLINED));
        return EXIT_DECLINED;
    }

    Progress progress(term.Screen(), IMAGE_BLOCK_COUNT, IMAGE_BLOCK_SIZE, Japanese());
    if (!term.quiet) term.progress = &progress;
    bool changed = false;
    bool otherImage = false;
    term.beforeEject = [&] {
        otherImage = !HeldImageAsGiven(term, watch, options, target);
        changed = !otherImage && !SameDriveAsJudged(term, target);
        return !changed && !otherImage;
    };
    if (!term.quiet) watch.SetBlockObserver([&progress](uint32_t done) { progress.Block(done); });
    const int updated = RunUpdate(term);
    watch.SetBlockObserver(nullptr);
    term.beforeEject = nullptr;
    if (!term.quiet) progress.End(updated == 1);
    term.progress = nullptr;
    CloseDevice(g_hDevice);
    watch.Note(std::string("update: ") + (updated ? "succeeded" : changed ? "the drive changed" : otherImage ? "not the image given" : "failed"));
    if (changed) return EXIT_DRIVE_CHANGED;
    if (otherImage) return EXIT_IMAGE;

    if (updated == 1) return ConfirmAndReport(term, watch, options, target);

    if (!watch.EjectSent()) {
        // Stopped by the validation, before any command that changes the drive.
        if (term.Shown(IDS_COMMAND_ERROR)) {
            term.Result(Text(TXT_NOT_STARTED_NO_ANSWER, {device}));
            return EXIT_DRIVE;
        }
        // Refused without a word: the held copy of the image could not be made.
        term.Result(Text(term.Shown(IDS_INCOMPATIBLE_IMAGE) ? TXT_NOT_STARTED_IMAGE : TXT_NOT_STARTED_UNHELD,
                         {target.imagePath, device}));
        return EXIT_IMAGE;
    }
    if (LacksFirmware(watch, target)) {
        term.Result(Text(TXT_FAILED_NO_FIRMWARE, {Text(TXT_NO_FIRMWARE, {device})}));
    } else {
        term.Result(Text(TXT_FAILED_KEPT, {device}));
    }
    return EXIT_UPDATE_FAILED;
}

// The steps of a run, in order; the exit code.
int RunSteps(Terminal& term, const CliOptions& options, DriveWatch& watch, Target& target) {
    const bool interactive = !options.yes && !options.check;
    watch.Note(std::string("quillmor run: ") + (options.check ? "--check" : options.yes ? "--yes" : "interactive"));

    int exitCode = EXIT_UPDATED;
    // What the user can mend without a drive is told first: a missing image.
    target.imagePath = options.image;
    if (target.imagePath.empty()) {
        char located[LOCATE_PATH_SIZE] = {};
        LocateImage(located);
        target.imagePath = located;
    }
    if (OsHandle image = OsOpenImageFile(target.imagePath.c_str())) {
        OsCloseFile(image);
    } else {
        term.Say(Text(TXT_IMAGE_CANNOT_OPEN, {target.imagePath, std::strerror(errno)}));
        return EXIT_IMAGE;
    }
    // The image's SHA-256, of the file as the user has it: the --check report tells
    // it, the log keeps it, and a file that is not the one --sha256 names is refused
    // before any drive is asked.
    if (options.check || !options.sha256.empty() || watch.Logging() || options.json) {
        target.sha256 = FileSha256(target.imagePath);
        const int why = errno;
        watch.Note("image SHA-256: " + (target.sha256.empty() ? "unreadable: " + std::string(std::strerror(why)) : target.sha256));
        if (target.sha256.empty() && (options.check || !options.sha256.empty())) {
            term.Say(Text(TXT_IMAGE_CANNOT_READ, {target.imagePath, std::strerror(why)}));
            return EXIT_IMAGE;
        }
        if (!Sha256AsGiven(term, watch, options, target.imagePath, target.sha256, Text(TXT_NOTHING_DONE)))
            return EXIT_IMAGE;
    }
    if (!StartUp(term, &exitCode)) return exitCode;
    if (!ChooseTheDrive(term, options, interactive, watch, &target, &exitCode)) return exitCode;
    if (!Identify(term, options, watch, &target, &exitCode)) return exitCode;
    if (options.check) return CheckReport(term, watch, options, target);
    return UpdateAndReport(term, watch, options, interactive, target);
}

// The length of the well-formed UTF-8 sequence at `p` (of `left` bytes), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (p[0] >= 0xC2 && p[0] <= 0xDF) length = 2;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF) length = 3;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4) length = 4;
    if (p[0] == 0xE0) low = 0xA0;   // no overlong forms
    if (p[0] == 0xED) high = 0x9F;  // no surrogates
    if (p[0] == 0xF0) low = 0x90;
    if (p[0] == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    if (length == 0 || length > left || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

// A JSON string of `text`. A file name need not be UTF-8, but JSON must be: a byte
// that is not part of a well-formed sequence becomes U+FFFD, so that every parser
// reads the object.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const unsigned char ch = bytes[i];
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else if (ch >= 0x80) {
            const size_t length = Utf8SequenceLength(bytes + i, text.size() - i);
            out += length ? text.substr(i, length) : std::string("\\ufffd");
            i += length ? length : 1;
            continue;
        } else {
            out += static_cast<char>(ch);
        }
        ++i;
    }
    return out + "\"";
}
std::string JsonStringOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

// The outcome's name in the JSON object, by the exit code.
const char* OutcomeName(int code, bool check) {
    switch (code) {
    case EXIT_UPDATED: return check ? "update-possible" : "updated";
    case EXIT_UPDATE_FAILED: return "update-failed";
    case EXIT_NOTHING_TO_DO: return "nothing-to-do";
    case EXIT_DRIVE: return "drive-problem";
    case EXIT_IMAGE: return "image-problem";
    case EXIT_BUSY: return "busy";
    case EXIT_DECLINED: return "declined";
    case EXIT_STILL_OLD: return "still-old-firmware";
    case EXIT_NOT_CONFIRMED: return "not-confirmed";
    case EXIT_DRIVE_CHANGED: return "drive-changed";
    default: return "other";
    }
}

// The result as one JSON object; each field is null when the run ended before it
// was known.
std::string JsonReport(const Terminal& term, const CliOptions& options, const Target& target, int code) {
    const VersionRecord& r = target.record;
    const bool imageRead = target.needed != IMAGE_UNREADABLE && r.imageVersion[0] != 0;
    std::string json = "{\"schema\": 1";
    json += ", \"mode\": " + JsonString(options.check ? "check" : "update");
    json += ", \"device\": " + JsonStringOrNull(target.device);
    json += ", \"model\": " + JsonStringOrNull(target.id.model);
    json += ", \"revision\": " + JsonStringOrNull(target.id.revision);
    json += ", \"date\": " + JsonStringOrNull(target.id.date);
    json += ", \"image\": " + JsonStringOrNull(target.imagePath);
    json += ", \"image_version\": " + JsonStringOrNull(imageRead ? r.imageVersion : "");
    json += ", \"image_date\": " + JsonStringOrNull(imageRead ? ShownDate(r.imageDate) : "");
    json += ", \"image_sha256\": " + JsonStringOrNull(target.sha256);
    json += ", \"decision\": " + JsonStringOrNull(term.decision);
    json += ", \"outcome\": " + JsonString(OutcomeName(code, options.check));
    json += ", \"reason\": " + JsonStringOrNull(term.reason.empty() ? term.lastSaid : term.reason);
    json += ", \"exit_code\": " + std::to_string(code);
    json += ", \"confirmed_revision\": " + JsonStringOrNull(term.confirmed);
    return json + "}\n";
}

}  // namespace

int RunLinux(const CliOptions& options, const RunIo& io, DriveWatch& watch) {
    Terminal term(io, watch);
    term.json = options.json;
    term.quiet = options.quiet;
    Target target;
    const int code = RunSteps(term, options, watch, target);
    if (options.json) term.PrintResult(JsonReport(term, options, target, code));
    return code;
}
