// A logind of the tests' own: a private bus (dbus-daemon) in a scratch folder of its
// own and, on it, python3-dbusmock's logind template, whose Inhibit hands out a pipe's write
// end and lists the inhibitor until every copy of that end is closed. sd-bus goes
// to it as to the system bus when DBUS_SYSTEM_BUS_ADDRESS is Address().
#pragma once
#include "testing/scratch_dir.h"

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

struct sd_bus;

struct MockInhibitor {
    std::string what, who, why, mode;
};

class MockLogind {
public:
    MockLogind() = default;
    ~MockLogind();  // ends the processes it started, then its folder goes
    MockLogind(const MockLogind&) = delete;
    MockLogind& operator=(const MockLogind&) = delete;

    // Starts the bus and, when `withLogind`, the mock on it; returns once the mock
    // owns its name. A missing dbus-daemon or python3-dbusmock skips the calling
    // test, or fails it when CI is set; any other trouble fails it. False in all
    // those cases: the test then returns at once.
    bool Start(bool withLogind = true);

    const std::string& Address() const { return m_address; }

    // The inhibitors the mock holds now; false (with a test failure) when it cannot
    // be asked. Callable from any thread, one at a time.
    bool Inhibitors(std::vector<MockInhibitor>* list);
    // Asks until the mock holds `count` inhibitors (it lets one go only once it has
    // seen the lock closed), within a bound; false when it never did.
    bool WaitForInhibitors(size_t count, std::vector<MockInhibitor>* last = nullptr);

private:
    bool StartBus(std::string* problem);
    bool StartLogind(const std::string& python, std::string* problem);
    sd_bus* Connect(std::string* problem);

    ScratchDir m_dir;  // the bus's socket and configuration, the logs
    std::string m_address;
    pid_t m_bus = -1;
    pid_t m_logind = -1;
    std::mutex m_mutex;
    sd_bus* m_client = nullptr;
};
