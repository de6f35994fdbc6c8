// The Linux runs of the native program: interactive, --yes and --check. They use
// the engine as the dialogs do (discovery, the version rule, validation, the
// update, the rescan after success) and tell the outcome as a Linux tool does: by
// documented exit codes and in lines that fit a terminal.
#pragma once
#include "app/linux/drive_watch.h"
#include "app/linux/options.h"

#include <cstdio>

struct RunIo {
    FILE* in = stdin;
    FILE* out = stderr;      // questions, progress and diagnostics
    FILE* results = stdout;  // the --check report and the outcome
    bool inIsTerminal = false;
    bool outIsTerminal = false;
};

// Runs what `options` ask for (not help, version or /au) and returns the exit code.
// `watch` is the device service in force.
int RunLinux(const CliOptions& options, const RunIo& io, DriveWatch& watch);
