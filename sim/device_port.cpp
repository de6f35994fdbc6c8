#include "sim/device_port.h"

#include "os/time.h"
#include "sim/scenario.h"

#include <cctype>
#include <cstring>

namespace {
char Upper(char letter) { return char(std::toupper(static_cast<unsigned char>(letter))); }
}  // namespace

SimDevicePort::~SimDevicePort() {
    for (Handle* h : m_handles) delete h;
}

SimDrive& SimDevicePort::AddDrive(const SimDriveConfig& config) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimDriveConfig c = config;
    c.letter = Upper(c.letter);
    auto& slot = m_drives[c.letter];
    slot = std::make_unique<SimDrive>(c);
    return *slot;
}

bool SimDevicePort::AddScenario(const std::string& scenarioText, std::string* error) {
    std::vector<SimDriveConfig> drives;
    if (!SimParseScenario(scenarioText, &drives, error)) return false;
    for (const auto& d : drives) AddDrive(d);
    return true;
}

SimDrive* SimDevicePort::Drive(char letter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_drives.find(Upper(letter));
    return it == m_drives.end() ? nullptr : it->second.get();
}

int SimDevicePort::OpenHandles() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_handles.size());
}

void SimDevicePort::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Handle* h : m_handles) delete h;
    m_handles.clear();
    for (auto& drive : m_drives) drive.second->Reset();
}

OsHandle SimDevicePort::Open(char driveLetter) { return OpenHandle(driveLetter, false); }

OsHandle SimDevicePort::OpenForUpdate(char driveLetter) { return OpenHandle(driveLetter, true); }

OsHandle SimDevicePort::OpenHandle(char driveLetter, bool exclusive) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_drives.find(Upper(driveLetter));
    if (it == m_drives.end() || it->second->Vanished()) return nullptr;
    if (exclusive) {
        for (const Handle* other : m_handles)
            if (other->exclusive && other->drive == it->second.get()) return nullptr;
    }
    Handle* h = new Handle{it->second.get(), exclusive};
    m_handles.insert(h);
    return h;
}

void SimDevicePort::Close(OsHandle device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Handle* h = static_cast<Handle*>(device);
    if (m_handles.erase(h)) delete h;
}

bool SimDevicePort::PassThrough(OsHandle device, SptdBuffer* buffer) {
    SimDrive* drive = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Handle* h = static_cast<Handle*>(device);
        if (!m_handles.count(h)) return false;
        drive = h->drive;
    }
    if (!buffer) return false;
    ScsiPassThroughDirect& sptd = buffer->sptd;
    // What the system checks before a request reaches the drive.
    if (sptd.Length != sizeof(ScsiPassThroughDirect)) return false;
    if (sptd.CdbLength < 1 || sptd.CdbLength > sizeof sptd.Cdb) return false;
    if (sptd.DataIn != SPTD_DATA_IN && sptd.DataIn != SPTD_DATA_OUT) return false;
    if (sptd.DataTransferLength > 0 && sptd.DataBuffer == nullptr) return false;
    if (sptd.SenseInfoLength > 0 &&
        (sptd.SenseInfoOffset < sizeof(ScsiPassThroughDirect) || sptd.SenseInfoOffset > sizeof(SptdBuffer) ||
         sptd.SenseInfoLength > sizeof(SptdBuffer) - sptd.SenseInfoOffset))
        return false;

    int direction = SIM_DIR_NONE;
    if (sptd.DataIn == SPTD_DATA_IN)
        direction = SIM_DIR_IN;
    else if (sptd.DataTransferLength > 0)
        direction = SIM_DIR_OUT;
    uint8_t* sense = reinterpret_cast<uint8_t*>(buffer) + sptd.SenseInfoOffset;
    const SimResult r = drive->Run(sptd.Cdb, sptd.CdbLength, direction, static_cast<uint8_t*>(sptd.DataBuffer),
                                   sptd.DataTransferLength, sptd.SenseInfoLength ? sense : nullptr,
                                   sptd.SenseInfoLength);
    if (r.status == SIM_NO_ANSWER) {
        // The system gives up on the command after the record's time-out.
        if (!drive->Vanished()) {
            const uint64_t ms = uint64_t(sptd.TimeOutValue) * 1000u;
            OsTime().Sleep(ms >= OS_WAIT_FOREVER ? OS_WAIT_FOREVER - 1 : uint32_t(ms));
        }
        return false;
    }
    sptd.ScsiStatus = uint8_t(r.status);
    sptd.SenseInfoLength = uint8_t(r.senseWritten);
    // What the system reports as moved, in either direction: the request less the
    // adapter's residual, however wrong that is.
    if (direction != SIM_DIR_NONE)
        sptd.DataTransferLength = uint32_t(int64_t(sptd.DataTransferLength) - r.residual);
    return true;
}
