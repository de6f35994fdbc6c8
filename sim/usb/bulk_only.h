// USB mass-storage Bulk-Only Transport, the device's side: the command loop
// that reads a command block wrapper, moves the data, and answers with a status
// wrapper, handing each CDB to the emulated drive. The endpoints are behind
// BotPipe, so that the loop runs against FunctionFS in a guest and against a
// scripted host in the tests.
#pragma once
#include "sim/drive.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

constexpr uint32_t BOT_CBW_SIGNATURE = 0x43425355;  // "USBC"
constexpr uint32_t BOT_CSW_SIGNATURE = 0x53425355;  // "USBS"
constexpr size_t BOT_CBW_SIZE = 31;
constexpr size_t BOT_CSW_SIZE = 13;
constexpr uint8_t BOT_CSW_PASSED = 0;
constexpr uint8_t BOT_CSW_FAILED = 1;
constexpr uint8_t BOT_CSW_PHASE_ERROR = 2;
// The largest data phase taken; usb-storage asks far less of a CD-ROM.
constexpr uint32_t BOT_MAX_TRANSFER = 16u << 20;

// The bulk endpoints and what the host does on the control endpoint, as the
// command loop needs them.
class BotPipe {
public:
    virtual ~BotPipe() = default;
    // One transfer from the host, at most `size` bytes: the count, or -1 when
    // the transfer failed (the host reset the device, or it went away).
    virtual long Receive(uint8_t* to, size_t size) = 0;
    // `size` bytes to the host; false when the transfer failed.
    virtual bool Send(const uint8_t* from, size_t size) = 0;
    virtual void HaltIn() = 0;
    virtual void HaltOut() = 0;
    // Waits for a Bulk-Only reset (or for the host to drop the configuration).
    virtual void AwaitReset() = 0;
};

// What one pass of the loop did, for the tests and the log.
enum class BotOutcome {
    Answered,     // a status wrapper went out
    InvalidCbw,   // not a valid wrapper: both endpoints halted until a reset
    NoAnswer,     // the drive did not complete the command: no status until a reset
    PipeFailed,   // a transfer failed; the next wrapper starts afresh
};

class BulkOnlyTarget {
public:
    // `recorded` is told the transcript index of every command the drive ran.
    BulkOnlyTarget(SimDrive* drive, std::function<void(size_t)> recorded);

    // Reads one command block wrapper and serves it.
    BotOutcome ServeOne(BotPipe* pipe);

private:
    SimDrive* m_drive;
    std::function<void(size_t)> m_recorded;
    std::vector<uint8_t> m_data;
    // The sense of the last command when it failed: a CHECK CONDITION reaches the
    // host only as "failed" in the status wrapper, and usb-storage then asks for
    // the sense with REQUEST SENSE. Any other command clears it, as on a drive.
    bool m_senseKept = false;
    uint8_t m_sense[18] = {};
};
