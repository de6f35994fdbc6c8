// The real clock, exercised without sleeping: every wait here ends by a signal.
#include "os/system_ports.h"

#include <gtest/gtest.h>

namespace {

struct Relay {
    TimePort* time;
    OsHandle go;
    OsHandle done;
    static void Run(void* p) {
        Relay* r = static_cast<Relay*>(p);
        r->time->WaitEvent(r->go, OS_WAIT_FOREVER);
        r->time->SetEvent(r->done);
    }
};

TEST(SystemTime, ThreadsAndAutoResetEvents) {
    TimePort& time = SystemTime();
    Relay r{&time, time.CreateEvent(), time.CreateEvent()};
    OsHandle t = time.StartThread(&Relay::Run, &r);
    ASSERT_NE(t, nullptr);

    EXPECT_FALSE(time.WaitThread(t, 0));  // blocked on `go`
    time.SetEvent(r.go);
    EXPECT_TRUE(time.WaitEvent(r.done, OS_WAIT_FOREVER));
    EXPECT_FALSE(time.WaitEvent(r.done, 0));  // taken by the wait above
    EXPECT_TRUE(time.WaitThread(t, OS_WAIT_FOREVER));
    EXPECT_TRUE(time.WaitThread(t, 0));
    time.CloseThread(t);
    time.CloseEvent(r.go);
    time.CloseEvent(r.done);
}

TEST(SystemTime, ClosingARunningThreadDoesNotStopIt) {
    TimePort& time = SystemTime();
    Relay r{&time, time.CreateEvent(), time.CreateEvent()};
    time.CloseThread(time.StartThread(&Relay::Run, &r));
    time.SetEvent(r.go);
    EXPECT_TRUE(time.WaitEvent(r.done, OS_WAIT_FOREVER));
    time.CloseEvent(r.go);
    time.CloseEvent(r.done);
}

}  // namespace
