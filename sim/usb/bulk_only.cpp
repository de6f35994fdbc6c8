#include "sim/usb/bulk_only.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint8_t OP_REQUEST_SENSE = 0x03;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
}  // namespace

BulkOnlyTarget::BulkOnlyTarget(SimDrive* drive, std::function<void(size_t)> recorded)
    : m_drive(drive), m_recorded(std::move(recorded)) {}

BotOutcome BulkOnlyTarget::ServeOne(BotPipe* pipe) {
    // Room for a whole packet: a host that sends more than a wrapper must be
    // seen to, not have the rest taken for the next one.
    uint8_t cbw[512];
    const long got = pipe->Receive(cbw, sizeof cbw);
    if (got < 0) return BotOutcome::PipeFailed;
    const uint32_t hostLength = got == long(BOT_CBW_SIZE) ? Le32(cbw + 8) : 0;
    const uint8_t flags = cbw[12], lun = cbw[13] & 0x0F, cdbLength = cbw[14] & 0x1F;
    // A wrapper that is not valid and meaningful gets no status: both pipes stall
    // until the host resets the device (what the transport's error recovery expects).
    if (got != long(BOT_CBW_SIZE) || Le32(cbw) != BOT_CBW_SIGNATURE || lun != 0 || cdbLength < 1 ||
        cdbLength > 16 || hostLength > BOT_MAX_TRANSFER) {
        pipe->HaltIn();
        pipe->HaltOut();
        pipe->AwaitReset();
        return BotOutcome::InvalidCbw;
    }
    const int direction = hostLength == 0 ? SIM_DIR_NONE : (flags & 0x80) ? SIM_DIR_IN : SIM_DIR_OUT;
    uint8_t cdb[16] = {};
    std::memcpy(cdb, cbw + 15, cdbLength);

    m_data.assign(hostLength, 0);
    if (direction == SIM_DIR_OUT) {
        // The host sends all it announced, whatever the drive will take of it.
        uint32_t have = 0;
        while (have < hostLength) {
            const long n = pipe->Receive(m_data.data() + have, hostLength - have);
            if (n < 0) return BotOutcome::PipeFailed;
            if (n == 0) break;
            have += uint32_t(n);
        }
        if (have < hostLength) m_data.resize(have);
    }

    uint8_t sense[18] = {};
    const SimResult r = m_drive->Run(cdb, cdbLength, direction, m_data.data(), uint32_t(m_data.size()), sense,
                                     int(sizeof sense));
    if (m_recorded) m_recorded(r.record);
    if (r.status == SIM_NO_ANSWER) {
        m_senseKept = false;
        pipe->AwaitReset();
        return BotOutcome::NoAnswer;
    }
    uint32_t moved = r.transferred;
    if (cdb[0] == OP_REQUEST_SENSE && direction == SIM_DIR_IN && r.status == SIM_STATUS_GOOD && m_senseKept) {
        // The drive's own answer is replaced by the sense it kept for this request.
        const uint32_t n = std::min<uint32_t>({uint32_t(sizeof m_sense), cdb[4], hostLength});
        std::memcpy(m_data.data(), m_sense, n);
        moved = n;
    }
    m_senseKept = r.status == SIM_STATUS_CHECK_CONDITION;
    if (m_senseKept) std::memcpy(m_sense, sense, sizeof m_sense);

    if (direction == SIM_DIR_IN) {
        if (moved > 0 && !pipe->Send(m_data.data(), moved)) return BotOutcome::PipeFailed;
        // Less than the host expects: the stall ends its data phase.
        if (moved < hostLength) pipe->HaltIn();
    }
    uint8_t csw[BOT_CSW_SIZE];
    PutLe32(csw, BOT_CSW_SIGNATURE);
    std::memcpy(csw + 4, cbw + 4, 4);  // the tag, as sent
    PutLe32(csw + 8, direction == SIM_DIR_NONE ? 0 : hostLength - moved);
    csw[12] = r.status == SIM_STATUS_GOOD ? BOT_CSW_PASSED : BOT_CSW_FAILED;
    if (!pipe->Send(csw, sizeof csw)) return BotOutcome::PipeFailed;
    return BotOutcome::Answered;
}
