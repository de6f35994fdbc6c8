#include "os/virtual_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A thread body that sleeps, records when it woke, optionally signals, and then
// optionally sleeps on.
struct Sleeper {
    VirtualTime* clock;
    uint32_t ms;
    OsHandle doneEvent = nullptr;
    uint32_t thenMs = 0;
    std::atomic<uint64_t> wokeAt{0};
    static void Run(void* p) {
        Sleeper* s = static_cast<Sleeper*>(p);
        s->clock->Sleep(s->ms);
        s->wokeAt = s->clock->NowMs();
        if (s->doneEvent) s->clock->SetEvent(s->doneEvent);
        if (s->thenMs) s->clock->Sleep(s->thenMs);
    }
};

TEST(VirtualTime, SleepMovesTimeAtOnce) {
    VirtualTime clock;
    clock.Sleep(1500);
    EXPECT_EQ(clock.NowMs(), 1500u);
    clock.Sleep(0);
    EXPECT_EQ(clock.NowMs(), 1500u);
    clock.Advance(250);
    EXPECT_EQ(clock.NowMs(), 1750u);
}

TEST(VirtualTime, WaitThreadTimesOutBeforeTheThreadEnds) {
    VirtualTime clock;
    Sleeper s{&clock, 10000};
    OsHandle t = clock.StartThread(&Sleeper::Run, &s);
    ASSERT_NE(t, nullptr);

    EXPECT_FALSE(clock.WaitThread(t, 5000));
    EXPECT_EQ(clock.NowMs(), 5000u);
    EXPECT_EQ(s.wokeAt.load(), 0u);

    EXPECT_TRUE(clock.WaitThread(t, OS_WAIT_FOREVER));
    EXPECT_EQ(clock.NowMs(), 10000u);
    EXPECT_EQ(s.wokeAt.load(), 10000u);
    // An ended thread stays ended for every later wait.
    EXPECT_TRUE(clock.WaitThread(t, 0));
    clock.CloseThread(t);
}

TEST(VirtualTime, WaitForeverOnAThreadThatEnds) {
    VirtualTime clock;
    Sleeper s{&clock, 700};
    Sleeper later{&clock, 10000};
    OsHandle t = clock.StartThread(&Sleeper::Run, &s);
    OsHandle other = clock.StartThread(&Sleeper::Run, &later);
    // The end of `s` wakes this wait; time must not run on to the other sleeper's
    // deadline before the woken waiter has looked at it.
    EXPECT_TRUE(clock.WaitThread(t, OS_WAIT_FOREVER));
    EXPECT_EQ(clock.NowMs(), 700u);
    EXPECT_TRUE(clock.WaitThread(other, OS_WAIT_FOREVER));
    EXPECT_EQ(clock.NowMs(), 10000u);
    clock.CloseThread(t);
    clock.CloseThread(other);
}

TEST(VirtualTime, EventsAreAutoResetAndWakeTheirWaiter) {
    VirtualTime clock;
    OsHandle e = clock.CreateEvent();

    // Set by another thread later: the wait ends then, not at its own deadline, and
    // the setter going back to sleep does not move time past the woken waiter.
    Sleeper s{&clock, 300, e, 5000};
    OsHandle t = clock.StartThread(&Sleeper::Run, &s);
    EXPECT_TRUE(clock.WaitEvent(e, 1000));
    EXPECT_EQ(clock.NowMs(), 300u);
    // The wait took the signal.
    EXPECT_FALSE(clock.WaitEvent(e, 0));

    // Set before anyone waits: the next wait takes it at once, the one after times out.
    clock.SetEvent(e);
    EXPECT_TRUE(clock.WaitEvent(e, 1000));
    EXPECT_EQ(clock.NowMs(), 300u);
    EXPECT_FALSE(clock.WaitEvent(e, 1000));
    EXPECT_EQ(clock.NowMs(), 1300u);

    clock.WaitThread(t, OS_WAIT_FOREVER);
    EXPECT_EQ(clock.NowMs(), 5300u);
    clock.CloseThread(t);
    clock.CloseEvent(e);
}

// Threads that keep sleeping in steps wake in deadline order, each at its own
// virtual time, however the real scheduler orders them.
struct Stepper {
    VirtualTime* clock;
    uint32_t step;
    int id;
    std::vector<std::pair<uint64_t, int>>* log;
    std::mutex* logMutex;
    static void Run(void* p) {
        Stepper* s = static_cast<Stepper*>(p);
        for (int i = 0; i < 3; ++i) {
            s->clock->Sleep(s->step);
            std::lock_guard<std::mutex> lock(*s->logMutex);
            s->log->emplace_back(s->clock->NowMs(), s->id);
        }
    }
};

TEST(VirtualTime, InterleavedSleepersWakeAtTheirOwnDeadlines) {
    VirtualTime clock;
    std::vector<std::pair<uint64_t, int>> log;
    std::mutex logMutex;
    Stepper a{&clock, 30, 1, &log, &logMutex};
    Stepper b{&clock, 20, 2, &log, &logMutex};
    OsHandle ta = clock.StartThread(&Stepper::Run, &a);
    OsHandle tb = clock.StartThread(&Stepper::Run, &b);
    EXPECT_TRUE(clock.WaitThread(ta, OS_WAIT_FOREVER));
    EXPECT_TRUE(clock.WaitThread(tb, OS_WAIT_FOREVER));
    clock.CloseThread(ta);
    clock.CloseThread(tb);

    std::sort(log.begin(), log.end());
    const std::vector<std::pair<uint64_t, int>> expected{{20, 2}, {30, 1}, {40, 2}, {60, 1}, {60, 2}, {90, 1}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(clock.NowMs(), 90u);
}

TEST(VirtualTime, ClosingARunningThreadLetsItFinish) {
    VirtualTime clock;
    OsHandle e = clock.CreateEvent();
    Sleeper s{&clock, 100, e};
    clock.CloseThread(clock.StartThread(&Sleeper::Run, &s));
    EXPECT_TRUE(clock.WaitEvent(e, OS_WAIT_FOREVER));
    EXPECT_EQ(s.wokeAt.load(), 100u);
    clock.CloseEvent(e);
}

TEST(VirtualTime, DestroyingTheClockRunsItsThreadsToTheirEnd) {
    Sleeper s{nullptr, 2500};
    {
        VirtualTime clock;
        s.clock = &clock;
        clock.CloseThread(clock.StartThread(&Sleeper::Run, &s));
    }
    EXPECT_EQ(s.wokeAt.load(), 2500u);
}

struct Forever {
    VirtualTime* clock;
    OsHandle event;
    static void Run(void* p) {
        Forever* f = static_cast<Forever*>(p);
        f->clock->WaitEvent(f->event, OS_WAIT_FOREVER);
    }
};

// One thread waiting forever on an event nobody can set.
void WaitAloneForever() {
    VirtualTime clock;
    clock.WaitEvent(clock.CreateEvent(), OS_WAIT_FOREVER);
}

// Two threads each waiting forever, one of them on the other.
void WaitOnEachOtherForever() {
    VirtualTime clock;
    Forever f{&clock, clock.CreateEvent()};
    OsHandle t = clock.StartThread(&Forever::Run, &f);
    clock.WaitThread(t, OS_WAIT_FOREVER);
}

// A thread the clock does not know of could run on while time jumps.
void WaitFromAStranger() {
    VirtualTime clock;
    std::thread stranger([&clock] { clock.Sleep(10); });
    stranger.join();
}

TEST(VirtualTimeDeathTest, MisuseFailsFastInsteadOfHanging) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(WaitAloneForever(), "deadlock");
    EXPECT_DEATH(WaitOnEachOtherForever(), "deadlock");
    EXPECT_DEATH(WaitFromAStranger(), "did not create or start");
}

}  // namespace
