// Stands between the program and the system's device service: limits the drives
// to the one --device names, records every command in the --log file (and with -v
// on standard error), and counts what reached the drive, so that progress and the
// end-of-run words go by what was sent and accepted, never by a clock.
#pragma once
#include "os/device.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class DriveWatch : public DevicePort {
public:
    explicit DriveWatch(DevicePort& inner) : m_inner(inner) {}

    // Only `letter` opens (0: every letter).
    void RestrictTo(char letter) { m_only = letter; }
    // Every open claims its drive for this run (the system's exclusive open), unless
    // the run holds it already: so discovery never probes a drive that another run is
    // writing. The drives refused because another holder has them, and those this
    // user may not open, are remembered in letter order until ForgetRefusals.
    std::string InUse();
    std::string Denied();
    // The drives that exist and were asked to open since ForgetRefusals, whatever came of it.
    std::string Probed();
    void ForgetRefusals();
    // Every command from now on is recorded in `log` (nullptr: none).
    void SetLog(FILE* log) { m_log = log; }
    // Every command from now on is also printed to `trace` as it completes: the
    // log's line without the time, after the program's name (nullptr: none).
    void SetTrace(FILE* trace) { m_trace = trace; }
    // Called after each image block the drive accepted, with how many blocks
    // (counted by their buffer offset) have been accepted so far.
    void SetBlockObserver(std::function<void(uint32_t)> observer) { m_onBlock = std::move(observer); }

    bool Logging() const { return m_log != nullptr; }
    // A plain-text line in the log, stamped like the commands.
    void Note(const std::string& text);

    bool EjectSent() const { return m_ejectSent; }
    uint32_t ModeSwitchesSent() const { return m_modeSwitches; }
    uint32_t BlocksAccepted() const { return m_blocks; }

    OsHandle Open(char driveLetter) override;
    OsHandle OpenForUpdate(char driveLetter) override;
    bool MayWriteFirmware(OsHandle device) override { return m_inner.MayWriteFirmware(device); }
    void Close(OsHandle device) override;
    bool PassThrough(OsHandle device, SptdBuffer* buffer) override;

private:
    std::string Stamp() const;
    // One completed command, as the log and the trace show it: the device, the CDB
    // in hex, its length, the direction and length asked, the status, the sense
    // key/ASC/ASCQ, the bytes moved and the residual.
    std::string CommandText(OsHandle device, const ScsiPassThroughDirect& before, const SptdBuffer& after,
                            bool answered) const;
    // The exclusive open, remembering a drive that another holder has.
    OsHandle Claim(char driveLetter);
    // Remembers which drive `handle` (if any) is, for the log.
    OsHandle Track(OsHandle handle, char driveLetter);

    DevicePort& m_inner;
    char m_only = 0;
    std::string m_inUse, m_denied, m_probed;
    FILE* m_log = nullptr;
    FILE* m_trace = nullptr;
    std::function<void(uint32_t)> m_onBlock;
    std::mutex m_mutex;  // probes run on worker threads
    std::map<OsHandle, char> m_letters;
    bool m_ejectSent = false;
    uint32_t m_modeSwitches = 0;
    uint32_t m_blocks = 0;
};

// Opens the --log file for appending, made when absent: never through a symbolic
// link, never truncated, and a file that exists only when it is a regular file of
// this user's (effective) with no other name; so a run as root never writes
// into a file that another user pointed it at. nullptr otherwise, with errno set
// (ELOOP: a link; EPERM: not a regular file of ours; else the open's own).
FILE* OpenLog(const std::string& path);

// `word` as a POSIX shell reads it back: as it is when it holds only characters no
// shell treats specially, else in single quotes; one with control characters (a
// newline, say) as $'...' with escapes, so that it stays on its line.
std::string ShellQuoted(const std::string& word);

// The first lines a run writes into its log, so that each run's record says what
// ran: the program and its version, the whole command line (each argument quoted
// where needed), the local time `now` with its time zone, and the device, when
// --device names it (else the log tells the drive once it is chosen).
std::vector<std::string> LogHeader(int argc, char** argv, const std::string& device, std::time_t now);

// Why the updater mutex counts as taken, one line: another updater runs, or the
// folder of the named objects is not the user's alone (then it is named). In the
// user's language, as the next two are.
std::string BusyText();

// Why `device` could not be claimed, one line: its disc is mounted, or another
// updater or program holds it.
std::string InUseText(const std::string& device);
