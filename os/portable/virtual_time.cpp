// Discrete-event clock for tests. Everything is guarded by one mutex; a blocked
// thread is woken by whoever satisfies its wait (a signaller, a thread's end, or the
// clock jumping to its deadline), and that waker counts it as running again at once.
// Counting it only when it gets scheduled would let time jump a second time before
// the woken thread has had a chance to act.
#include "os/virtual_time.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

struct VirtualTime::Waitable {
    enum Kind { kEvent, kThread, kAllEnded };
    explicit Waitable(Kind k) : kind(k) {}
    virtual ~Waitable() = default;
    Kind kind;
    // Event: set and not yet taken. Thread / kAllEnded: the condition holds.
    bool signalled = false;
    // The handle, plus one per waiter (and, for a thread, one while it runs): an
    // object closed while someone still waits on it lives on until they are done.
    int refs = 1;
};

struct VirtualTime::Thread : VirtualTime::Waitable {
    Thread() : Waitable(kThread) {}
    void (*proc)(void*) = nullptr;
    void* arg = nullptr;
    std::thread thread;
};

struct VirtualTime::Waiter {
    Waitable* target = nullptr;  // nullptr: a plain sleep
    bool hasDeadline = false;
    uint64_t deadline = 0;
    bool woken = false;
    bool satisfied = false;
};

namespace {
// The clock the calling thread belongs to (created it or was started by it).
thread_local const VirtualTime* t_clock = nullptr;

[[noreturn]] void Fail(const char* what, uint64_t now) {
    std::fprintf(stderr, "VirtualTime at %llu ms: %s\n", static_cast<unsigned long long>(now), what);
    std::fflush(stderr);
    std::abort();
}
}  // namespace

VirtualTime::VirtualTime() : m_allEnded(new Waitable(Waitable::kAllEnded)) {
    m_allEnded->signalled = true;
    t_clock = this;
}

VirtualTime::~VirtualTime() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_liveThreads > 0) {
            RequireKnownThread("destruction with threads still running");
            BlockUntil(lock, m_allEnded, OS_WAIT_FOREVER);
        }
    }
    delete m_allEnded;
    if (t_clock == this) t_clock = nullptr;
}

uint64_t VirtualTime::NowMs() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_now;
}

void VirtualTime::Sleep(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    BlockUntil(lock, nullptr, ms);
}

OsHandle VirtualTime::StartThread(void (*proc)(void*), void* arg) {
    if (!proc) return nullptr;
    Thread* t = new Thread;
    t->proc = proc;
    t->arg = arg;
    t->refs = 2;  // the handle and the running thread
    {
        // Counted before it exists, so time cannot move between here and its start.
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_running;
        if (m_liveThreads++ == 0) m_allEnded->signalled = false;
    }
    try {
        std::thread started(&VirtualTime::ThreadMain, this, t);
        std::lock_guard<std::mutex> lock(m_mutex);
        t->thread = std::move(started);
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_running;  // the caller still runs, so this cannot reach zero
        if (--m_liveThreads == 0) Signal(m_allEnded);
        delete t;
        return nullptr;
    }
    return t;
}

void VirtualTime::ThreadMain(VirtualTime* clock, Thread* t) {
    t_clock = clock;
    t->proc(t->arg);
    std::lock_guard<std::mutex> lock(clock->m_mutex);
    clock->Signal(t);
    if (--clock->m_liveThreads == 0) clock->Signal(clock->m_allEnded);
    --clock->m_running;
    clock->Release(t);
    clock->MaybeAdvance();
    clock->m_changed.notify_all();
}

bool VirtualTime::WaitThread(OsHandle thread, uint32_t timeoutMs) {
    if (!thread) return false;
    std::unique_lock<std::mutex> lock(m_mutex);
    return BlockUntil(lock, static_cast<Waitable*>(thread), timeoutMs);
}

void VirtualTime::CloseThread(OsHandle thread) {
    if (!thread) return;
    Thread* t = static_cast<Thread*>(thread);
    std::thread detached;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        detached = std::move(t->thread);
        Release(t);
    }
    // The thread runs on (or has just ended); nobody joins it any more.
    if (detached.joinable()) detached.detach();
}

OsHandle VirtualTime::CreateEvent() { return new Waitable(Waitable::kEvent); }

void VirtualTime::SetEvent(OsHandle event) {
    if (!event) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    Signal(static_cast<Waitable*>(event));
    m_changed.notify_all();
}

bool VirtualTime::WaitEvent(OsHandle event, uint32_t timeoutMs) {
    if (!event) return false;
    std::unique_lock<std::mutex> lock(m_mutex);
    return BlockUntil(lock, static_cast<Waitable*>(event), timeoutMs);
}

void VirtualTime::CloseEvent(OsHandle event) {
    if (!event) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    Release(static_cast<Waitable*>(event));
}

void VirtualTime::BeginExternalWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_externalWaits;
}

void VirtualTime::EndExternalWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_externalWaits == 0) Fail("EndExternalWait without BeginExternalWait", m_now);
    --m_externalWaits;
}

void VirtualTime::Advance(uint64_t ms) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now += ms;
    ++m_generation;
    WakeDue();
    m_changed.notify_all();
}

// --- under m_mutex from here on ---

bool VirtualTime::BlockUntil(std::unique_lock<std::mutex>& lock, Waitable* w, uint32_t timeoutMs) {
    if (w && TryTake(w)) return true;
    if (timeoutMs == 0) return false;
    RequireKnownThread("a wait");

    Waiter me;
    me.target = w;
    me.hasDeadline = timeoutMs != OS_WAIT_FOREVER;
    me.deadline = m_now + timeoutMs;
    if (w) ++w->refs;
    m_waiters.push_back(&me);
    --m_running;
    MaybeAdvance();
    m_changed.wait(lock, [&me] { return me.woken; });
    // The waker has unlisted us and counted us as running again.
    if (w) Release(w);
    return me.satisfied;
}

bool VirtualTime::TryTake(Waitable* w) {
    if (!w->signalled) return false;
    if (w->kind == Waitable::kEvent) w->signalled = false;  // auto-reset
    return true;
}

void VirtualTime::Signal(Waitable* w) {
    if (w->kind == Waitable::kEvent) {
        // Auto-reset: the first waiter takes the signal; with none it stays set.
        for (Waiter* waiter : m_waiters) {
            if (waiter->target == w) {
                Wake(waiter, true);
                return;
            }
        }
        w->signalled = true;
        return;
    }
    w->signalled = true;
    std::vector<Waiter*> waiting(m_waiters);
    for (Waiter* waiter : waiting)
        if (waiter->target == w) Wake(waiter, true);
}

void VirtualTime::Wake(Waiter* waiter, bool satisfied) {
    waiter->woken = true;
    waiter->satisfied = satisfied;
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), waiter));
    ++m_running;
    ++m_generation;
}

void VirtualTime::WakeDue() {
    std::vector<Waiter*> waiting(m_waiters);
    for (Waiter* waiter : waiting)
        if (waiter->hasDeadline && waiter->deadline <= m_now) Wake(waiter, false);
}

void VirtualTime::MaybeAdvance() {
    if (m_running > 0) return;
    bool any = false;
    uint64_t earliest = 0;
    for (const Waiter* waiter : m_waiters) {
        if (waiter->hasDeadline && (!any || waiter->deadline < earliest)) {
            earliest = waiter->deadline;
            any = true;
        }
    }
    if (!any) {
        char what[160];
        std::snprintf(what, sizeof what,
                      "deadlock: all %zu threads wait with no time limit and nothing can wake them",
                      m_waiters.size());
        Fail(what, m_now);
    }
    m_now = std::max(m_now, earliest);
    WakeDue();
    m_changed.notify_all();
}

void VirtualTime::Release(Waitable* w) {
    if (--w->refs == 0) delete w;  // a thread's std::thread is detached by then
}

void VirtualTime::RequireKnownThread(const char* call) {
    if (t_clock == this) return;
    // Such a thread is not counted, so time could jump while it still runs.
    char what[160];
    std::snprintf(what, sizeof what, "%s on a thread this clock did not create or start", call);
    Fail(what, m_now);
}
