// The virtual clock library, loaded into this test as into a process test's run of
// quillmor: sleeps take no real time and move the monotonic clock on by what they
// asked; timed waits still end on time in real terms.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <time.h>

namespace {

using namespace std::chrono;

class VirtualClock : public testing::Test {
protected:
    void SetUp() override {
        const char* preload = std::getenv("LD_PRELOAD");
        if (!preload || !std::strstr(preload, "qm_clockpreload")) GTEST_SKIP() << "run with the clock library preloaded";
    }
};

// An hour's sleep, each way the program and the C library ask for one: the
// monotonic clock moves on by it, the wall clock by next to nothing.
TEST_F(VirtualClock, SleepsMoveTheMonotonicClockOnAtOnce) {
    struct Case {
        const char* name;
        void (*sleep)();
    } cases[] = {
        {"sleep_for", [] { std::this_thread::sleep_for(hours(1)); }},
        {"nanosleep", [] {
             const timespec hour = {3600, 0};
             ::nanosleep(&hour, nullptr);
         }},
        {"clock_nanosleep", [] {
             const timespec hour = {3600, 0};
             ::clock_nanosleep(CLOCK_MONOTONIC, 0, &hour, nullptr);
         }},
        {"clock_nanosleep absolute", [] {
             timespec until;
             ::clock_gettime(CLOCK_MONOTONIC, &until);
             until.tv_sec += 3600;
             ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
         }},
    };
    for (const Case& c : cases) {
        const auto steady = steady_clock::now();
        const auto wall = system_clock::now();
        c.sleep();
        EXPECT_GE(steady_clock::now() - steady, hours(1)) << c.name;
        EXPECT_LT(steady_clock::now() - steady, hours(1) + minutes(1)) << c.name;
        EXPECT_LT(system_clock::now() - wall, minutes(1)) << c.name;
    }
}

// After the clock has moved on, a timed wait that nobody ends still ends after
// its own length in real time, not that plus the time slept.
TEST_F(VirtualClock, TimedWaitsEndOnTimeAfterASleep) {
    std::this_thread::sleep_for(hours(24));
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    const auto start = steady_clock::now();
    EXPECT_EQ(never.wait_for(lock, milliseconds(20)), std::cv_status::timeout);
    EXPECT_GE(steady_clock::now() - start, milliseconds(20));
}

}  // namespace
