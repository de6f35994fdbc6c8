// The native program: the dialogs on the headless back-end, rendered on the
// terminal. `quillmor` asks and updates interactively; `quillmor /au` runs
// unattended and exits 0 (updated) or 1. Either way, logind holds off sleep and
// shutdown while the drive is written.
#include "app/updater_app.h"
#include "os/guard.h"
#include "os/inhibit.h"
#include "os/process.h"
#include "ui/terminal/terminal.h"

#include <unistd.h>

int main(int argc, char** argv) {
    // Before anything is opened: no descriptor of ours may become standard error.
    if (!OsPrepareProcess()) return 1;
    OsSetCommandLine(argc, argv);
    terminal::Options options;
    options.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
    options.outIsTerminal = ::isatty(STDERR_FILENO) == 1;
    options.unattended = IsUnattendedCommandLine(OsGetCommandLine());
    terminal::FrontEnd frontEnd(options);
    frontEnd.Install();
    terminal::GuardSignalsDuringUpdate();
    OsSetInhibit(&OsSystemInhibit());
    const int exitCode = AfxWinMain();
    frontEnd.Uninstall();
    return exitCode;
}
