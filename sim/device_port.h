// The emulated drives behind the device seam, in-process: Open('D') answers when
// a drive sits at D, and PassThrough carries out the pass-through record the way
// the system does. Install with OsSetDevices(&port); tests also install a
// VirtualTime, since a command that is never answered holds the caller for the
// record's whole time-out.
#pragma once
#include "os/device.h"
#include "sim/drive.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class SimDevicePort : public DevicePort {
public:
    SimDevicePort() = default;
    ~SimDevicePort() override;
    SimDevicePort(const SimDevicePort&) = delete;
    SimDevicePort& operator=(const SimDevicePort&) = delete;

    // Places a drive at config.letter, replacing one there; the port owns it.
    SimDrive& AddDrive(const SimDriveConfig& config = SimDriveConfig());
    // Adds every drive of a scenario text; false (nothing added) on a parse error.
    bool AddScenario(const std::string& scenarioText, std::string* error);
    // nullptr when no drive sits at the letter.
    SimDrive* Drive(char letter);
    int OpenHandles() const;
    // As newly made with the same drives: each drive reset (SimDrive::Reset), every
    // handle closed.
    void Reset();

    OsHandle Open(char driveLetter) override;
    // As Linux's O_EXCL: refused while another handle opened this way is open on the
    // same drive; plain opens neither refuse it nor are refused.
    OsHandle OpenForUpdate(char driveLetter) override;
    void Close(OsHandle device) override;
    bool PassThrough(OsHandle device, SptdBuffer* buffer) override;

private:
    struct Handle {
        SimDrive* drive;
        bool exclusive;
    };
    OsHandle OpenHandle(char driveLetter, bool exclusive);
    mutable std::mutex m_mutex;
    std::map<char, std::unique_ptr<SimDrive>> m_drives;
    std::set<Handle*> m_handles;
};
