// Time, threads and events. Everything that waits goes through here so that tests
// can run on a virtual clock and never sleep for real.
#pragma once
#include "os/types.h"

constexpr uint32_t OS_WAIT_FOREVER = 0xFFFFFFFFu;

class TimePort {
public:
    virtual ~TimePort() = default;
    // Milliseconds on a monotonic clock.
    virtual uint64_t NowMs() = 0;
    virtual void Sleep(uint32_t ms) = 0;

    // Starts a thread running proc(arg) at once; nullptr when it cannot be created.
    virtual OsHandle StartThread(void (*proc)(void*), void* arg) = 0;
    // True when the thread has ended within timeoutMs (OS_WAIT_FOREVER: no limit).
    virtual bool WaitThread(OsHandle thread, uint32_t timeoutMs) = 0;
    // Releases the handle; the thread itself is not stopped.
    virtual void CloseThread(OsHandle thread) = 0;

    // Unnamed auto-reset events, initially not signalled. On Windows these are real
    // event handles, so an ASPI manager can signal them. (<windows.h> defines
    // CreateEvent as a macro: include os/win32/win32_api.h, or #undef it, in files
    // that see both.)
    virtual OsHandle CreateEvent() = 0;
    virtual void SetEvent(OsHandle event) = 0;
    // True when signalled within timeoutMs.
    virtual bool WaitEvent(OsHandle event, uint32_t timeoutMs) = 0;
    virtual void CloseEvent(OsHandle event) = 0;
};

TimePort& OsTime();
// Replaces the time service; nullptr restores the system's.
void OsSetTime(TimePort* port);
