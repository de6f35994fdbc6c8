// The system's time service on Windows: kernel threads and events, so that an
// ASPI manager can signal the events, and GetTickCount, which Windows 95 has.
#include "os/system_ports.h"
#include "os/win32/win32_api.h"

#include <atomic>

namespace {
struct ThreadStart {
    void (*proc)(void*);
    void* arg;
};

DWORD WINAPI ThreadEntry(LPVOID param) {
    ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    start.proc(start.arg);
    return 0;
}

class Win32Time : public TimePort {
public:
    // GetTickCount wraps after 49.7 days; carry the wraps into the upper half so the
    // clock keeps running forward. State: wraps in the high 32 bits, the last tick
    // count seen in the low 32.
    uint64_t NowMs() override {
        uint64_t seen = m_state.load();
        for (;;) {
            const uint32_t tick = GetTickCount();
            uint64_t wraps = seen >> 32;
            if (tick < static_cast<uint32_t>(seen)) ++wraps;
            const uint64_t next = (wraps << 32) | tick;
            if (next == seen || m_state.compare_exchange_weak(seen, next)) return next;
        }
    }

    void Sleep(uint32_t ms) override { ::Sleep(ms); }

    OsHandle StartThread(void (*proc)(void*), void* arg) override {
        if (!proc) return nullptr;
        ThreadStart* start = new ThreadStart{proc, arg};
        DWORD id = 0;  // Windows 95/98 fail the call without somewhere to put it
        HANDLE h = CreateThread(nullptr, 0, &ThreadEntry, start, 0, &id);
        if (!h) delete start;
        return h;
    }

    bool WaitThread(OsHandle thread, uint32_t timeoutMs) override {
        return thread && WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    }

    void CloseThread(OsHandle thread) override {
        if (thread) CloseHandle(thread);
    }

    OsHandle CreateEvent() override { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

    void SetEvent(OsHandle event) override {
        if (event) ::SetEvent(event);
    }

    bool WaitEvent(OsHandle event, uint32_t timeoutMs) override {
        return event && WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
    }

    void CloseEvent(OsHandle event) override {
        if (event) CloseHandle(event);
    }

private:
    std::atomic<uint64_t> m_state{0};
};

// Built before any thread starts: no first-use guard for two threads to race on.
Win32Time g_systemTime;
}  // namespace

TimePort& SystemTime() { return g_systemTime; }
