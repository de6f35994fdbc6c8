// Windows: a GUI process has no standard descriptors to fill and no signals that
// could end it in the middle of a download.
#include "os/guard.h"

bool OsPrepareProcess() { return true; }

void OsEnterDownloadMode() {}

void OsLeaveDownloadMode() {}
