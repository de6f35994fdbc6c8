// Windows: a GUI process has no standard descriptors to fill and no signals that
// could end it in the middle of an update.
#include "os/guard.h"

bool OsPrepareProcess() { return true; }

void OsHoldSignals() {}

void OsReleaseSignals() {}

void OsSetHoldNote(const char*) {}
