// A device port in front of another that notes what the one-request-at-a-time
// rule forbids: two commands in flight at once, or a handle closed while a
// command on it is in flight.
#pragma once
#include "os/device.h"

#include <atomic>

class OverlapWatch : public DevicePort {
public:
    explicit OverlapWatch(DevicePort& inner) : m_inner(inner) {}
    OsHandle Open(char letter) override { return m_inner.Open(letter); }
    OsHandle OpenForUpdate(char letter) override { return m_inner.OpenForUpdate(letter); }
    void Close(OsHandle device) override {
        if (m_inFlight.load() > 0 && m_device.load() == device) ++violations;
        m_inner.Close(device);
    }
    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        if (m_inFlight.fetch_add(1) > 0) ++violations;
        m_device = device;
        bool ok = m_inner.PassThrough(device, buffer);
        m_inFlight.fetch_sub(1);
        return ok;
    }
    std::atomic<int> violations{0};

private:
    DevicePort& m_inner;
    std::atomic<int> m_inFlight{0};
    std::atomic<OsHandle> m_device{nullptr};
};
