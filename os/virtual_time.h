// A virtual clock for tests: time stands still while any thread it knows of runs,
// and jumps to the next deadline once every one of them waits. Nothing sleeps for real.
#pragma once
#include "os/time.h"
#include <condition_variable>
#include <cstdint>
#include <mutex>

class VirtualTime : public TimePort {
public:
    VirtualTime();
    ~VirtualTime() override;

    uint64_t NowMs() override;
    void Sleep(uint32_t ms) override;
    OsHandle StartThread(void (*proc)(void*), void* arg) override;
    bool WaitThread(OsHandle thread, uint32_t timeoutMs) override;
    void CloseThread(OsHandle thread) override;
    OsHandle CreateEvent() override;
    void SetEvent(OsHandle event) override;
    bool WaitEvent(OsHandle event, uint32_t timeoutMs) override;
    void CloseEvent(OsHandle event) override;

    // A thread that blocks outside this clock (a socket, a real terminal) tells it,
    // so that time may pass meanwhile.
    void BeginExternalWait();
    void EndExternalWait();

    // Moves time on by hand (for a thread that is not waiting on this clock).
    void Advance(uint64_t ms);

private:
    struct Waitable;
    bool BlockUntil(std::unique_lock<std::mutex>& lock, Waitable* w, uint32_t timeoutMs);
    void MaybeAdvance();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_now = 0;
    int m_running = 1;          // threads that are not waiting; the creating thread counts
    uint64_t m_generation = 0;  // bumps whenever time moves or an object is signalled
};
