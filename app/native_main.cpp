// The native program. `quillmor` asks and updates interactively, `--yes` without
// questions and `--check` rehearses without writing; all three tell the outcome by
// documented exit codes. `quillmor /au` is the Windows program's unattended run on
// the headless dialogs, rendered on the terminal, and exits 0 (updated) or 1.
// Either way, logind holds off sleep and shutdown while the drive is written, and
// nothing ends the process between the update's start and its told outcome.
#include "app/linux/drive_watch.h"
#include "app/linux/options.h"
#include "app/linux/run.h"
#include "app/updater_app.h"
#include "engine/session.h"
#include "os/device.h"
#include "os/guard.h"
#include "os/inhibit.h"
#include "os/linux/text.h"
#include "os/named.h"
#include "os/process.h"
#include "res/strings.h"
#include "ui/terminal/terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

int main(int argc, char** argv) {
    // Before anything is opened: no descriptor of ours may become standard error.
    if (!OsPrepareProcess()) return 1;
    CliOptions options;
    std::string error;
    const bool parsed = ParseOptions(argc, argv, &options, &error);
    // --lang rules every message, a usage error's too when it came before the error.
    if (!options.lang.empty()) OsSetResourceLanguage(options.lang == "ja" ? LANG_JAPANESE_JP : LANG_ENGLISH_US);
    if (!parsed) {
        std::fprintf(stderr, "%s\n", Text(TXT_USAGE_ERROR, {error, UsageLine()}).c_str());
        return EXIT_USAGE;
    }
    if (options.help) {
        std::fputs(HelpText(OsResourceLanguage() == LANG_JAPANESE_JP).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", VersionText().c_str());
        return 0;
    }

    DriveWatch watch(OsDevices());
    if (!options.device.empty()) watch.RestrictTo(DeviceLetterForPath(options.device));
    FILE* log = nullptr;
    if (!options.log.empty()) {
        log = OpenLog(options.log);
        if (log == nullptr) {
            const int why = errno;
            const std::string text = why == ELOOP || why == EPERM
                                         ? Text(TXT_LOG_NOT_PLAIN, {options.log})
                                         : Text(TXT_LOG_UNWRITABLE, {options.log, std::strerror(why)});
            std::fprintf(stderr, "%s\n", text.c_str());
            return EXIT_USAGE;
        }
        watch.SetLog(log);
        // Each run's record opens with what ran, when, and on which device.
        for (const std::string& line : LogHeader(argc, argv, options.device, std::time(nullptr))) watch.Note(line);
    }
    if (options.verbose) watch.SetTrace(stderr);
    OsSetDevices(&watch);
    // Said at once to a Ctrl-C or a kill during the update; the process ends by it
    // only once the outcome has been told (OsReleaseSignals below), which this text
    // outlives.
    const std::string holdNote = Text(TXT_HOLD_NOTE);
    OsSetHoldNote(holdNote.c_str());
    OsSetInhibit(&OsSystemInhibit());

    int exitCode;
    if (options.unattended) {
        OsSetCommandLine(argc, argv);
        terminal::Options termOptions;
        termOptions.outIsTerminal = ::isatty(STDERR_FILENO) == 1;
        terminal::FrontEnd frontEnd(termOptions);
        frontEnd.Install();
        // The run itself ends silently, as the Windows program's does; here a line says why.
        if (OsNamedMutexExists(UPDATER_MUTEX_NAME)) std::fprintf(stderr, "%s\n", BusyText().c_str());
        exitCode = AfxWinMain();
        frontEnd.Uninstall();
        // Its discovery left out the drives another holder has: a line says so.
        for (char busy : watch.InUse()) std::fprintf(stderr, "%s\n", InUseText(DevicePathOfLetter(busy)).c_str());
        // The dialogs end without a word; on a terminal, a last line tells the outcome.
        if (termOptions.outIsTerminal)
            std::fprintf(stderr, "%s\n", Text(exitCode == 0 ? TXT_UNATTENDED_UPDATED : TXT_UNATTENDED_NOT_UPDATED).c_str());
    } else {
        RunIo io;
        io.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
        // With -v the commands' lines run between the bar's: it is printed as lines.
        io.outIsTerminal = ::isatty(STDERR_FILENO) == 1 && !options.verbose;
        exitCode = RunLinux(options, io, watch);
    }
    OsSetDevices(nullptr);
    if (log) std::fclose(log);
    std::fflush(nullptr);
    // The outcome is out and in the log: a signal held back since the update began
    // takes effect now.
    OsReleaseSignals();
    return exitCode;
}
