// Fakes of the platform seams that tests set up and inspect: the platform family
// and code page, the session, and a clock that counts its events.
#pragma once
#include "os/platform.h"
#include "os/session.h"
#include "os/time.h"

#include <mutex>
#include <string>
#include <vector>

class FakePlatform : public PlatformPort {
public:
    int PlatformId() override { return platformId; }
    unsigned OemCodePage() override { return oemCodePage; }
    int platformId = OS_PLATFORM_WIN32_NT;
    unsigned oemCodePage = 437;
};

// Records what is asked of the session, in order.
class FakeSession : public SessionPort {
public:
    bool GetScreenSaverActive(int* active) override {
        Record("get");
        if (!readable) return false;
        *active = screenSaverActive;
        return true;
    }
    void SetScreenSaverActive(bool active) override {
        Record(active ? "saver on" : "saver off");
        screenSaverActive = active ? 1 : 0;
    }
    void EnableShutdownPrivilege() override { Record("privilege"); }
    void ForceRestart() override { Record("restart"); }

    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    bool readable = true;
    int screenSaverActive = 0;

private:
    void Record(const char* call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

// A clock in front of another that counts the events created and closed, so that
// a test sees each one closed again.
class CountingTime : public TimePort {
public:
    explicit CountingTime(TimePort& inner) : m_inner(inner) {}
    int created = 0, closed = 0;
    int Live() const { return created - closed; }

    uint64_t NowMs() override { return m_inner.NowMs(); }
    void Sleep(uint32_t ms) override { m_inner.Sleep(ms); }
    OsHandle StartThread(void (*proc)(void*), void* arg) override { return m_inner.StartThread(proc, arg); }
    bool WaitThread(OsHandle t, uint32_t ms) override { return m_inner.WaitThread(t, ms); }
    void CloseThread(OsHandle t) override { m_inner.CloseThread(t); }
    OsHandle CreateEvent() override {
        ++created;
        return m_inner.CreateEvent();
    }
    void SetEvent(OsHandle e) override { m_inner.SetEvent(e); }
    bool WaitEvent(OsHandle e, uint32_t ms) override { return m_inner.WaitEvent(e, ms); }
    void CloseEvent(OsHandle e) override {
        ++closed;
        m_inner.CloseEvent(e);
    }

private:
    TimePort& m_inner;
};
