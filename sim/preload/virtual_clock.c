/* libqm_clockpreload.so: a clock that tests control, for whole programs run as
 * processes. A sleep ends at once and moves the monotonic clock on by its length,
 * so a run that waits 3.5 s between two looks at the drives takes no real time, and
 * its deadlines pass exactly as far as it slept, on every machine.
 *
 * Moved on: clock_gettime of the monotonic clocks (std::chrono::steady_clock).
 * Sleeps: nanosleep and relative clock_nanosleep (std::this_thread::sleep_for),
 * absolute clock_nanosleep on a monotonic clock. Timed waits on a monotonic clock
 * (pthread_cond_clockwait, std::condition_variable::wait_for) are taken back to
 * real time, so they still end when the awaited thread does, or after their real
 * length. The wall clock (CLOCK_REALTIME) is left alone: the log's time stamps
 * stay true. */
#include "sim/preload/next_symbol.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <time.h>

#define EXPORT __attribute__((visibility("default")))
#define NS_PER_S 1000000000LL

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);
typedef int (*clock_nanosleep_fn)(clockid_t, int, const struct timespec*, struct timespec*);
typedef int (*clockwait_fn)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*);

/* How far the monotonic clocks are ahead of the real ones. */
static int64_t g_aheadNs;

static void* Next(const char* name) { return NextSymbol("qm_clockpreload", name); }

static int Monotonic(clockid_t clock) {
    return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW || clock == CLOCK_MONOTONIC_COARSE ||
           clock == CLOCK_BOOTTIME;
}

static int64_t Ns(const struct timespec* t) { return (int64_t)t->tv_sec * NS_PER_S + t->tv_nsec; }

static struct timespec Timespec(int64_t ns) {
    struct timespec t;
    t.tv_sec = (time_t)(ns / NS_PER_S);
    t.tv_nsec = (long)(ns % NS_PER_S);
    return t;
}

static int64_t Ahead(void) { return __atomic_load_n(&g_aheadNs, __ATOMIC_SEQ_CST); }

/* A sleep of `ns`: the clock moves on, and other threads get their turn as a
 * real sleep would give it. */
static void Pass(int64_t ns) {
    if (ns > 0) __atomic_add_fetch(&g_aheadNs, ns, __ATOMIC_SEQ_CST);
    sched_yield();
}

EXPORT int clock_gettime(clockid_t clock, struct timespec* t) {
    static clock_gettime_fn real;
    if (!real) real = (clock_gettime_fn)Next("clock_gettime");
    const int result = real(clock, t);
    if (result == 0 && Monotonic(clock)) *t = Timespec(Ns(t) + Ahead());
    return result;
}

EXPORT int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request, struct timespec* remain) {
    static clock_nanosleep_fn real;
    if (!real) real = (clock_nanosleep_fn)Next("clock_nanosleep");
    if (request->tv_nsec < 0 || request->tv_nsec >= NS_PER_S) return EINVAL;
    if (!(flags & TIMER_ABSTIME)) {
        Pass(Ns(request));
        if (remain) *remain = Timespec(0);
        return 0;
    }
    if (!Monotonic(clock)) return real(clock, flags, request, remain);
    struct timespec now;
    clock_gettime(clock, &now);
    Pass(Ns(request) - Ns(&now));
    return 0;
}

EXPORT int nanosleep(const struct timespec* request, struct timespec* remain) {
    const int result = clock_nanosleep(CLOCK_MONOTONIC, 0, request, remain);
    if (result == 0) return 0;
    errno = result;
    return -1;
}

EXPORT int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t clock,
                                  const struct timespec* deadline) {
    static clockwait_fn real;
    if (!real) real = (clockwait_fn)Next("pthread_cond_clockwait");
    if (!Monotonic(clock)) return real(cond, mutex, clock, deadline);
    const struct timespec realDeadline = Timespec(Ns(deadline) - Ahead());
    return real(cond, mutex, clock, &realDeadline);
}
