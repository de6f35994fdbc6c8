// The native program. `quillmor` asks and updates interactively, `--yes` without
// questions and `--check` rehearses without writing; all three tell the outcome by
// documented exit codes. `quillmor /au` is the Windows program's unattended run on
// the headless dialogs, rendered on the terminal, and exits 0 (updated) or 1.
// Either way, logind holds off sleep and shutdown while the drive is written.
#include "app/linux/drive_watch.h"
#include "app/linux/options.h"
#include "app/linux/run.h"
#include "app/updater_app.h"
#include "os/device.h"
#include "os/guard.h"
#include "os/inhibit.h"
#include "os/named.h"
#include "os/process.h"
#include "res/strings.h"
#include "ui/terminal/terminal.h"
#include "ui/updater_common.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    // Before anything is opened: no descriptor of ours may become standard error.
    if (!OsPrepareProcess()) return 1;
    CliOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "quillmor: %s\n%s\nTry 'quillmor --help'.\n", error.c_str(), UsageLine());
        return EXIT_USAGE;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", VersionText().c_str());
        return 0;
    }
    if (!options.lang.empty()) OsSetResourceLanguage(options.lang == "ja" ? LANG_JAPANESE_JP : LANG_ENGLISH_US);

    DriveWatch watch(OsDevices());
    if (!options.device.empty()) watch.RestrictTo(DeviceLetterForPath(options.device));
    FILE* log = nullptr;
    if (!options.log.empty()) {
        log = std::fopen(options.log.c_str(), "w");
        if (log == nullptr) {
            std::fprintf(stderr, "quillmor: cannot write the log %s; nothing was done.\n", options.log.c_str());
            return EXIT_USAGE;
        }
        watch.SetLog(log);
    }
    OsSetDevices(&watch);
    terminal::GuardSignalsDuringUpdate();
    OsSetInhibit(&OsSystemInhibit());

    int exitCode;
    if (options.unattended) {
        OsSetCommandLine(argc, argv);
        terminal::Options termOptions;
        termOptions.outIsTerminal = ::isatty(STDERR_FILENO) == 1;
        terminal::FrontEnd frontEnd(termOptions);
        frontEnd.Install();
        // The run itself ends silently, as the Windows program's does; here a line says why.
        if (OsNamedMutexExists(UPDATER_MUTEX_NAME))
            std::fputs("quillmor: another firmware updater is running; nothing was done.\n", stderr);
        exitCode = AfxWinMain();
        frontEnd.Uninstall();
    } else {
        RunIo io;
        io.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
        io.outIsTerminal = ::isatty(STDERR_FILENO) == 1;
        exitCode = RunLinux(options, io, watch);
    }
    OsSetDevices(nullptr);
    if (log) std::fclose(log);
    return exitCode;
}
