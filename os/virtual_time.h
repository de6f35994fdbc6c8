// A virtual clock for tests: time stands still while any thread it knows of runs,
// and jumps to the next deadline once every one of them waits. Nothing sleeps for real.
//
// Known threads are the one that created the clock and those started through it;
// only they may block on it (another thread that tries aborts with a message).
// When every known thread waits and none of the waits has a deadline, nothing can
// ever wake them: the clock reports the deadlock and aborts, so a test fails fast
// instead of hanging. Destroying the clock first lets every thread it started run
// to its end (time moving on as needed).
//
// Not built for Windows: it exists for the native test suite only.
#pragma once
#include "os/time.h"
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class VirtualTime : public TimePort {
public:
    VirtualTime();
    ~VirtualTime() override;
    VirtualTime(const VirtualTime&) = delete;
    VirtualTime& operator=(const VirtualTime&) = delete;

    uint64_t NowMs() override;
    void Sleep(uint32_t ms) override;
    OsHandle StartThread(void (*proc)(void*), void* arg) override;
    bool WaitThread(OsHandle thread, uint32_t timeoutMs) override;
    void CloseThread(OsHandle thread) override;
    OsHandle CreateEvent() override;
    void SetEvent(OsHandle event) override;
    bool WaitEvent(OsHandle event, uint32_t timeoutMs) override;
    void CloseEvent(OsHandle event) override;

    // A known thread about to block outside this clock (a socket, a real terminal)
    // brackets that wait with these. It keeps counting as running meanwhile, so time
    // does not move while the outside party may still answer: a test stays
    // deterministic, and nothing is declared deadlocked while an answer can come.
    // A test that needs time to pass during such a wait moves it with Advance.
    void BeginExternalWait();
    void EndExternalWait();

    // Moves time on by hand (for a thread that is not waiting on this clock); waits
    // whose deadline falls within the step end as timed out.
    void Advance(uint64_t ms);

private:
    struct Waitable;
    struct Thread;
    struct Waiter;

    bool BlockUntil(std::unique_lock<std::mutex>& lock, Waitable* w, uint32_t timeoutMs);
    void MaybeAdvance();
    bool TryTake(Waitable* w);
    void Signal(Waitable* w);
    void Wake(Waiter* waiter, bool satisfied);
    void WakeDue();
    void Release(Waitable* w);
    void RequireKnownThread(const char* call);
    static void ThreadMain(VirtualTime* clock, Thread* thread);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_now = 0;
    int m_running = 1;          // threads that are not waiting; the creating thread counts
    uint64_t m_generation = 0;  // bumps whenever time moves or an object is signalled
    std::vector<Waiter*> m_waiters;  // blocked threads, in the order they blocked
    int m_liveThreads = 0;           // started and not yet ended
    int m_externalWaits = 0;
    Waitable* m_allEnded;            // signalled while no started thread is alive
};
