// The system's time service on Linux: std::thread-based threads and condition
// variable events that behave like the Win32 objects the program was made for.
#include "os/system_ports.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
// Waits until `ready` holds or timeoutMs has passed (OS_WAIT_FOREVER: no limit).
template <typename Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t timeoutMs, Pred ready) {
    if (timeoutMs == OS_WAIT_FOREVER) {
        cv.wait(lock, ready);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

struct ThreadRecord {
    void (*proc)(void*);
    void* arg;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::atomic<int> refs{2};  // the handle and the running thread
};

void ReleaseThread(ThreadRecord* t) {
    if (t->refs.fetch_sub(1) == 1) delete t;
}

struct EventRecord {
    std::mutex mutex;
    std::condition_variable set;
    bool signalled = false;
};

class LinuxTime : public TimePort {
public:
    uint64_t NowMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

    void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    OsHandle StartThread(void (*proc)(void*), void* arg) override {
        if (!proc) return nullptr;
        ThreadRecord* t = new ThreadRecord;
        t->proc = proc;
        t->arg = arg;
        try {
            // Detached at once: the handle only observes the end, as on Windows.
            std::thread(&Run, t).detach();
        } catch (...) {
            delete t;
            return nullptr;
        }
        return t;
    }

    bool WaitThread(OsHandle thread, uint32_t timeoutMs) override {
        if (!thread) return false;
        ThreadRecord* t = static_cast<ThreadRecord*>(thread);
        std::unique_lock<std::mutex> lock(t->mutex);
        return WaitFor(t->ended, lock, timeoutMs, [t] { return t->done; });
    }

    void CloseThread(OsHandle thread) override {
        if (thread) ReleaseThread(static_cast<ThreadRecord*>(thread));
    }

    OsHandle CreateEvent() override { return new EventRecord; }

    void SetEvent(OsHandle event) override {
        if (!event) return;
        EventRecord* e = static_cast<EventRecord*>(event);
        std::lock_guard<std::mutex> lock(e->mutex);
        e->signalled = true;
        e->set.notify_one();  // auto-reset: one waiter takes it
    }

    bool WaitEvent(OsHandle event, uint32_t timeoutMs) override {
        if (!event) return false;
        EventRecord* e = static_cast<EventRecord*>(event);
        std::unique_lock<std::mutex> lock(e->mutex);
        if (!WaitFor(e->set, lock, timeoutMs, [e] { return e->signalled; })) return false;
        e->signalled = false;
        return true;
    }

    void CloseEvent(OsHandle event) override { delete static_cast<EventRecord*>(event); }

private:
    static void Run(ThreadRecord* t) {
        t->proc(t->arg);
        {
            std::lock_guard<std::mutex> lock(t->mutex);
            t->done = true;
            t->ended.notify_all();
        }
        ReleaseThread(t);
    }
};
}  // namespace

TimePort& SystemTime() {
    static LinuxTime time;
    return time;
}
