// A device seam that answers every pass-through as a test scripts it and keeps
// what it was handed, for the checks that need more than a drive model gives:
// the record's own fields and a request the system refuses.
#pragma once
#include "os/device.h"

#include <cstring>
#include <vector>

class ScriptedDevice : public DevicePort {
public:
    // The handle Open gives for the one letter that has a device.
    static OsHandle Handle() { return reinterpret_cast<OsHandle>(static_cast<uintptr_t>(0x5D)); }
    char letter = 'D';

    bool refuse = false;           // the system refuses the request
    uint8_t status = 0;            // the SCSI status of the answer
    std::vector<uint8_t> sense;    // written at SenseInfoOffset when not empty
    std::vector<uint8_t> dataIn;   // copied to DataBuffer for a data-in request
    int64_t moved = -1;            // written to DataTransferLength when not negative

    int calls = 0;
    int closes = 0;
    OsHandle lastHandle = nullptr;
    SptdBuffer seen{};             // the record as it arrived
    std::vector<uint8_t> dataOut;  // what a data-out request carried

    OsHandle Open(char driveLetter) override { return driveLetter == letter ? Handle() : nullptr; }
    void Close(OsHandle) override { ++closes; }

    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        ++calls;
        lastHandle = device;
        seen = *buffer;
        ScsiPassThroughDirect& r = buffer->sptd;
        uint8_t* senseArea = reinterpret_cast<uint8_t*>(buffer) + r.SenseInfoOffset;
        // A handle that is not open is refused as the system refuses it.
        if (refuse || device != Handle()) {
            // What a failed call may leave behind: nothing the drive said.
            std::memset(senseArea, 0xEE, r.SenseInfoLength);
            r.ScsiStatus = 0xEE;
            return false;
        }
        auto* data = static_cast<uint8_t*>(r.DataBuffer);
        if (r.DataIn == SPTD_DATA_IN) {
            const size_t n = std::min<size_t>(dataIn.size(), r.DataTransferLength);
            if (n) std::memcpy(data, dataIn.data(), n);  // no buffer for a no-data command
        } else {
            dataOut.assign(data, data + r.DataTransferLength);
        }
        r.ScsiStatus = status;
        if (moved >= 0) r.DataTransferLength = static_cast<uint32_t>(moved);
        const size_t senseBytes = std::min<size_t>(sense.size(), r.SenseInfoLength);
        if (senseBytes) std::memcpy(senseArea, sense.data(), senseBytes);
        return true;
    }
};

// Fixed-format sense data with the given key, ASC and ASCQ.
inline std::vector<uint8_t> Sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> s(18, 0);
    s[0] = 0x70;
    s[2] = key;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    return s;
}
