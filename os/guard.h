// Keeps the process from being ended, or from writing its text into the drive, at a
// moment that would leave the drive unusable or the user without the outcome. Only
// Linux has anything to do here: a Windows GUI process gets no such signals and
// inherits no standard descriptors.
#pragma once

// At start, before anything is opened: each of descriptors 0, 1 and 2 that is closed
// is opened on the null device, so that no later open (the drive, the image) takes
// its number and receives the program's text; and SIGPIPE is ignored for the whole
// run, so that writing to a reader that has gone is an error, not the end. False
// when the null device cannot be opened: the program must not go on.
bool OsPrepareProcess();

// The one signal policy of an update. From OsHoldSignals (the update begins) until
// OsReleaseSignals (its outcome has been reported and logged), each catchable signal
// that would end or stop the process (its action is the default one) is held back:
// it takes effect at OsReleaseSignals, as it would have then, the lowest number
// first. A fault of the process's own is not held back. Signals with a handler or
// ignored are left as they are. Either call may come from any thread; a second
// OsHoldSignals before the release changes nothing.
void OsHoldSignals();
void OsReleaseSignals();
// What a request to end the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT) writes to
// standard error while it is held back: a static text, or nullptr for none.
void OsSetHoldNote(const char* note);
