// The restart of the machine after a successful interactive update.
#pragma once
#include "engine/worker.h"

// ASPI (95/98): the forced restart at once. Otherwise: IDS_RESTART, system-modal,
// owned by `dialog`; then the shutdown privilege and the forced restart. Results
// are not examined: a refused restart leaves the session to the user. The Linux
// session service never reboots.
void RestartWindows(WorkerHost& dialog);
