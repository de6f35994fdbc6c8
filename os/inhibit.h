// Keeps the machine from sleeping or shutting down while the drive is written: a
// drive whose download is cut off by the power going does not start again.
#pragma once

class InhibitPort {
public:
    virtual ~InhibitPort() = default;
    // From now until Release, sleep, shutdown and idle are held off; a user who asks
    // what holds them is told, in the user's language, that the drive's firmware is
    // being written. Never stops the update: where they cannot be held off, the user
    // is told so and the update goes on. A second Hold while one holds changes nothing.
    virtual void Hold() = 0;
    // Lets them happen again; nothing when nothing is held.
    virtual void Release() = 0;
};

// The service in force. Holding the machine reaches beyond the process, so it is
// the program's choice: until the program installs one, nothing is held (an update
// run in-process, by a test or a benchmark, leaves the machine alone).
InhibitPort& OsInhibit();
// Installs `port`; nullptr goes back to holding nothing.
void OsSetInhibit(InhibitPort* port);
// The platform's own. Linux: a systemd-logind inhibitor lock ("sleep:shutdown:idle",
// mode "block") taken over the system bus, whose descriptor is the lock; without
// a logind to take it from, one warning line on standard error. Windows: nothing;
// the dialogs themselves refuse suspend and the end of the session.
InhibitPort& OsSystemInhibit();
