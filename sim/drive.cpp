#include "sim/drive.h"

#include "os/time.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

const char SIM_DEFAULT_IDENTIFICATION[] = "TORVELL DVD-RW  WKZ4471 ";
const char SIM_DEFAULT_SIGNATURE[] = "0082VARNDT  5518";
const char SIM_SWITCH_MODEL_TEXT[] = "TORVELL  WKZ-H52";

namespace {
constexpr uint8_t OP_TEST_UNIT_READY = 0x00;
constexpr uint8_t OP_REQUEST_SENSE = 0x03;
constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_START_STOP = 0x1B;
constexpr uint8_t OP_WRITE_BUFFER = 0x3B;
constexpr uint8_t OP_READ_BUFFER = 0x3C;
constexpr uint8_t OP_READ_TOC = 0x43;
constexpr uint8_t OP_GET_EVENT_STATUS = 0x4A;
constexpr uint8_t OP_READ_DISC_INFO = 0x51;
constexpr uint8_t OP_READ_TRACK_INFO = 0x52;

constexpr uint8_t BUFFER_FIRMWARE = 0xF0;
constexpr uint8_t BUFFER_ID_BLOCK = 0xF1;
constexpr uint8_t BUFFER_MODE_SWITCH = 0xFF;

constexpr SimSense kNotReadyBecoming{0x02, 0x04, 0x01};
constexpr SimSense kNoMediumClosed{0x02, 0x3A, 0x00};
constexpr SimSense kNoMediumOpen{0x02, 0x3A, 0x02};
constexpr SimSense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr SimSense kInvalidFieldInCdb{0x05, 0x24, 0x00};
constexpr SimSense kInvalidFieldInList{0x05, 0x26, 0x00};
constexpr SimSense kDataPhaseError{0x0B, 0x4B, 0x00};

constexpr uint32_t kDiscBlocks = 0x23000;  // a small single-track data disc

uint32_t Be16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
uint32_t Be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void PutText(uint8_t* to, const std::string& text, size_t size) {
    std::memset(to, ' ', size);
    std::memcpy(to, text.data(), std::min(text.size(), size));
}

const char* DirectionName(int direction) {
    switch (direction) {
    case SIM_DIR_IN: return "in";
    case SIM_DIR_OUT: return "out";
    default: return "none";
    }
}
}  // namespace

struct SimDrive::Reply {
    bool check = false;
    SimSense sense;
    std::vector<uint8_t> data;  // data-in: what the drive offers, before the host's length
    uint32_t consumed = 0;      // data-out: bytes taken
    uint32_t takeAtMost = UINT32_MAX;  // data-out: a fault's limit on the bytes taken

    void Refuse(SimSense s) {
        check = true;
        sense = s;
        data.clear();
        consumed = 0;
    }
    // Data-in answer cut to the command's allocation length.
    void Answer(const uint8_t* bytes, size_t size, uint32_t allocation) {
        data.assign(bytes, bytes + std::min<size_t>(size, allocation));
    }
};

std::string SimCommandRecord::Format(char letter) const {
    char line[160];
    char cdbText[25];
    for (int i = 0; i < 12; ++i) std::snprintf(cdbText + 2 * i, 3, "%02X", cdb[size_t(i)]);
    char statusText[8];
    if (status == SIM_NO_ANSWER)
        std::snprintf(statusText, sizeof statusText, "none");
    else
        std::snprintf(statusText, sizeof statusText, "%02X", unsigned(status) & 0xFF);
    std::snprintf(line, sizeof line, "%c %s cdblen=%d dir=%s len=%u status=%s sense=%02X/%02X/%02X xfer=%u",
                  letter, cdbText, cdbLength, DirectionName(direction), unsigned(dataLength), statusText,
                  sense.key, sense.asc, sense.ascq, unsigned(transferred));
    return line;
}

SimDrive::SimDrive(const SimDriveConfig& config) : m_config(config), m_area(SIM_FIRMWARE_AREA_SIZE, 0xFF) {
    ResetLocked();
}

void SimDrive::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ResetLocked();
}

// Everything the config decides, and all the drive has learnt since: the one place
// that says what a new drive is, so that a reset drive is one.
void SimDrive::ResetLocked() {
    m_idBlock.fill(0);
    if (m_config.idBlock.size() == SIM_ID_BLOCK_SIZE) {
        std::memcpy(m_idBlock.data(), m_config.idBlock.data(), SIM_ID_BLOCK_SIZE);
    } else {
        PutText(&m_idBlock[16], m_config.signature, 16);
        m_idBlock[32] = m_config.state;
    }
    m_revision = m_config.revision;
    m_date = m_config.date;
    m_normalState = m_config.state == SIM_STATE_BLANK ? 0x01 : m_config.state;
    m_discLoaded = m_config.discLoaded;
    m_trayOpen = m_config.trayOpen;
    m_vanished = false;
    m_silent = false;
    m_applied = 0;
    m_received = 0;
    m_faultUses.assign(m_config.faults.size(), 0);
    m_faultSkips.assign(m_config.faults.size(), 0);
    if (m_writtenLow < m_writtenHigh)
        std::fill(m_area.begin() + m_writtenLow, m_area.begin() + m_writtenHigh, uint8_t(0xFF));
    m_writtenLow = SIM_FIRMWARE_AREA_SIZE;
    m_writtenHigh = 0;
    m_covered.clear();
    m_coveredBytes = 0;
    m_transcript.clear();
    // A command still waiting (a delay fault) finds its line gone, as after ClearTranscript.
    ++m_epoch;
}

// Marks [begin, end) of the area as covered by the current download; returns how
// many of those bytes it had not covered yet.
uint32_t SimDrive::Cover(uint32_t begin, uint32_t end) {
    uint32_t before = 0;
    uint32_t from = begin, to = end;
    auto it = m_covered.upper_bound(begin);
    if (it != m_covered.begin() && std::prev(it)->second >= begin) --it;
    // Every range that overlaps or touches [begin, end) merges into one.
    while (it != m_covered.end() && it->first <= end) {
        const uint32_t low = std::max(begin, it->first), high = std::min(end, it->second);
        if (high > low) before += high - low;
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        it = m_covered.erase(it);
    }
    m_covered.emplace(from, to);
    return (end - begin) - before;
}

int SimDrive::Execute(const uint8_t* cdb, int cdbLen, int direction, uint8_t* data, uint32_t length,
                      uint8_t* sense, int senseLen) {
    return Run(cdb, cdbLen, direction, data, length, sense, senseLen).status;
}

int SimDrive::FaultsFor(uint32_t number, const uint8_t* cdb, SimFault* combined) {
    int matched = 0;
    const bool bufferCommand = cdb[0] == OP_READ_BUFFER || cdb[0] == OP_WRITE_BUFFER;
    for (size_t i = 0; i < m_config.faults.size(); ++i) {
        const SimFault& f = m_config.faults[i];
        if (f.nth != 0 && f.nth != number) continue;
        if (f.opcode >= 0 && f.opcode != cdb[0]) continue;
        if (f.bufferId >= 0 && (!bufferCommand || f.bufferId != cdb[2])) continue;
        if (f.offset >= 0 && (!bufferCommand || f.offset != int64_t(Be24(cdb + 3)))) continue;
        if (f.applied && m_applied == 0) continue;
        if (m_faultSkips[i] < f.skip) {
            ++m_faultSkips[i];
            continue;
        }
        if (f.times >= 0 && m_faultUses[i] >= f.times) continue;
        ++m_faultUses[i];
        ++matched;
        if (f.refuse && !combined->refuse) {
            combined->refuse = true;
            combined->sense = f.sense;
        }
        combined->delayMs += f.delayMs;
        combined->noAnswer |= f.noAnswer;
        combined->vanish |= f.vanish;
        if (f.shortTo >= 0 && (combined->shortTo < 0 || f.shortTo < combined->shortTo))
            combined->shortTo = f.shortTo;
        if (f.residual != SimResidual::Honest) combined->residual = f.residual;
    }
    return matched;
}

SimResult SimDrive::Run(const uint8_t* cdbIn, int cdbLen, int direction, uint8_t* data, uint32_t length,
                        uint8_t* sense, int senseLen) {
    SimResult result;
    // The drive sees the declared CDB length; the bus delivers zeros after it.
    uint8_t cdb[16] = {};
    const int used = std::max(0, std::min(cdbLen, 16));
    std::memcpy(cdb, cdbIn, size_t(used));
    if (direction != SIM_DIR_IN && direction != SIM_DIR_OUT) direction = SIM_DIR_NONE;
    if (direction == SIM_DIR_NONE || data == nullptr) length = 0;

    SimCommandRecord record;
    std::memcpy(record.cdb.data(), cdbIn, record.cdb.size());
    record.cdbLength = cdbLen;
    record.direction = direction;
    record.dataLength = length;

    std::unique_lock<std::mutex> lock(m_mutex);
    const uint32_t number = ++m_received;
    const size_t index = m_transcript.size();
    m_transcript.push_back(record);
    result.record = index;

    SimFault fault;
    FaultsFor(number, cdb, &fault);
    if (fault.vanish) m_vanished = true;
    // The transcript may be cleared while this command waits: then it has no line.
    const uint64_t epoch = m_epoch;
    auto line = [&]() -> SimCommandRecord* { return epoch == m_epoch ? &m_transcript[index] : nullptr; };
    if (m_vanished) {
        result.status = line()->status = SIM_NO_ANSWER;
        return result;
    }
    if (fault.delayMs > 0) {
        // Other commands (other threads, other drives) go on meanwhile.
        lock.unlock();
        OsTime().Sleep(fault.delayMs);
        lock.lock();
    }
    if (fault.noAnswer || (m_silent && cdb[0] == OP_READ_BUFFER)) {
        result.status = SIM_NO_ANSWER;
        if (SimCommandRecord* done = line()) done->status = SIM_NO_ANSWER;
        return result;
    }

    Reply reply;
    if (fault.shortTo >= 0) reply.takeAtMost = uint32_t(std::min<int64_t>(fault.shortTo, UINT32_MAX));
    if (used < 1) {
        reply.Refuse(kInvalidFieldInCdb);
    } else if (number <= m_config.readyAfter && cdb[0] != OP_INQUIRY && cdb[0] != OP_REQUEST_SENSE) {
        reply.Refuse(kNotReadyBecoming);
    } else if (fault.refuse) {
        reply.Refuse(fault.sense);
    } else {
        Dispatch(cdb, direction, data, length, &reply);
    }

    if (reply.check) {
        result.status = SIM_STATUS_CHECK_CONDITION;
        uint8_t fixed[18] = {};
        fixed[0] = 0x70;
        fixed[2] = reply.sense.key;
        fixed[7] = 10;  // additional length: 18 bytes in all
        fixed[12] = reply.sense.asc;
        fixed[13] = reply.sense.ascq;
        if (sense && senseLen > 0) {
            result.senseWritten = std::min(senseLen, int(sizeof fixed));
            std::memcpy(sense, fixed, size_t(result.senseWritten));
        }
    } else if (direction == SIM_DIR_IN) {
        size_t n = std::min<size_t>(reply.data.size(), length);
        if (fault.shortTo >= 0) n = std::min<size_t>(n, size_t(fault.shortTo));
        if (n > 0) std::memcpy(data, reply.data.data(), n);
        result.transferred = uint32_t(n);
    } else if (direction == SIM_DIR_OUT) {
        result.transferred = reply.consumed;
    }
    if (direction != SIM_DIR_NONE) {
        constexpr int64_t kWrongBy = 16;
        switch (fault.residual) {
        case SimResidual::Honest: result.residual = int64_t(length) - result.transferred; break;
        case SimResidual::Zero: result.residual = 0; break;
        case SimResidual::Negative: result.residual = -kWrongBy; break;
        case SimResidual::Over: result.residual = int64_t(length) + kWrongBy; break;
        }
    }
    if (SimCommandRecord* done = line()) {
        done->status = result.status;
        done->sense = reply.check ? reply.sense : SimSense{};
        done->transferred = result.transferred;
    }
    return result;
}

void SimDrive::Dispatch(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length, Reply* reply) {
    switch (cdb[0]) {
    case OP_TEST_UNIT_READY:
        RequireMedium(reply);
        break;
    case OP_REQUEST_SENSE: RequestSense(cdb, reply); break;
    case OP_INQUIRY: Inquiry(cdb, reply); break;
    case OP_START_STOP: StartStop(cdb, reply); break;
    case OP_READ_BUFFER: ReadBuffer(cdb, reply); break;
    case OP_WRITE_BUFFER:
        WriteBuffer(cdb, direction == SIM_DIR_OUT ? data : nullptr, direction == SIM_DIR_OUT ? length : 0, reply);
        break;
    case OP_READ_TOC: ReadToc(cdb, reply); break;
    case OP_GET_EVENT_STATUS: GetEventStatus(cdb, reply); break;
    case OP_READ_DISC_INFO: ReadDiscInfo(cdb, reply); break;
    case OP_READ_TRACK_INFO: ReadTrackInfo(cdb, reply); break;
    default: reply->Refuse(kInvalidOpcode); break;
    }
}

void SimDrive::Inquiry(const uint8_t* cdb, Reply* reply) {
    const bool evpd = cdb[1] & 0x01;
    const bool cmdDt = cdb[1] & 0x02;
    const uint8_t page = cdb[2];
    const uint32_t allocation = Be16(cdb + 3);
    if (cmdDt || (!evpd && page != 0)) return reply->Refuse(kInvalidFieldInCdb);
    if (evpd) {
        if (page == 0x00) {
            const uint8_t pages[] = {0x05, 0x00, 0x00, 0x02, 0x00, 0x80};
            return reply->Answer(pages, sizeof pages, allocation);
        }
        if (page == 0x80) {
            uint8_t serial[4 + 8] = {0x05, 0x80, 0x00, 8};
            char text[8 + 1];  // the serial number and snprintf's NUL, which the page has no room for
            std::snprintf(text, sizeof text, "QM4471%c%c", m_config.letter, '0');
            std::memcpy(serial + 4, text, 8);
            return reply->Answer(serial, sizeof serial, allocation);
        }
        return reply->Refuse(kInvalidFieldInCdb);
    }
    uint8_t d[SIM_INQUIRY_SIZE] = {};
    d[0] = 0x05;  // CD/DVD device
    d[1] = 0x80;  // removable medium
    d[2] = 0x00;
    d[3] = 0x02;  // response data format
    d[4] = SIM_INQUIRY_SIZE - 5;
    PutText(d + 8, m_config.identification, 24);
    PutText(d + 32, m_revision, 4);
    std::memset(d + 36, ' ', 20);  // vendor-specific bytes 36..55: the build date at 37
    PutText(d + 37, m_date, 8);
    reply->Answer(d, sizeof d, allocation);
}

void SimDrive::ReadBuffer(const uint8_t* cdb, Reply* reply) {
    const uint8_t mode = cdb[1] & 0x1F;
    const uint8_t id = cdb[2];
    const uint32_t offset = Be24(cdb + 3);
    const uint32_t allocation = Be24(cdb + 6);
    if (id != BUFFER_ID_BLOCK) return reply->Refuse(kInvalidFieldInCdb);
    if (mode == 0x03) {  // descriptor: offset boundary 0, capacity 48
        const uint8_t descriptor[4] = {0x00, 0x00, 0x00, SIM_ID_BLOCK_SIZE};
        return reply->Answer(descriptor, sizeof descriptor, allocation);
    }
    if (mode != 0x02 || offset > SIM_ID_BLOCK_SIZE) return reply->Refuse(kInvalidFieldInCdb);
    reply->Answer(m_idBlock.data() + offset, SIM_ID_BLOCK_SIZE - offset, allocation);
}

void SimDrive::WriteBuffer(const uint8_t* cdb, const uint8_t* data, uint32_t length, Reply* reply) {
    const uint8_t modeByte = cdb[1];
    const uint8_t id = cdb[2];
    const uint32_t offset = Be24(cdb + 3);
    const uint32_t size = Be24(cdb + 6);
    if (modeByte != 0x05) return reply->Refuse(kInvalidFieldInCdb);
    if (id == BUFFER_FIRMWARE) {
        if (offset > SIM_FIRMWARE_AREA_SIZE || size > SIM_FIRMWARE_AREA_SIZE - offset)
            return reply->Refuse(kInvalidFieldInCdb);
        // The host must deliver what the CDB announces.
        if (size > length) return reply->Refuse(kDataPhaseError);
        // A fault may make the drive stop taking data early, and still answer GOOD.
        const uint32_t taken = std::min(size, reply->takeAtMost);
        if (taken > 0) {
            std::memcpy(&m_area[offset], data, taken);
            m_writtenLow = std::min(m_writtenLow, offset);
            m_writtenHigh = std::max(m_writtenHigh, offset + taken);
            m_coveredBytes += Cover(offset, offset + taken);
        }
        reply->consumed = taken;
        return;
    }
    if (id == BUFFER_MODE_SWITCH) {
        if (offset != 0 || size != SIM_SWITCH_BLOCK_SIZE) return reply->Refuse(kInvalidFieldInCdb);
        if (size > length) return reply->Refuse(kDataPhaseError);
        if (reply->takeAtMost < size) {
            // A block not taken whole is not acted on.
            reply->consumed = reply->takeAtMost;
            return;
        }
        reply->consumed = size;
        return ModeSwitch(data, reply);
    }
    reply->Refuse(kInvalidFieldInCdb);
}

void SimDrive::ModeSwitch(const uint8_t* block, Reply* reply) {
    const uint8_t code[4] = {uint8_t(SIM_SWITCH_CODE), uint8_t(SIM_SWITCH_CODE >> 8), uint8_t(SIM_SWITCH_CODE >> 16),
                             uint8_t(SIM_SWITCH_CODE >> 24)};
    if (std::memcmp(block, SIM_SWITCH_MODEL_TEXT, 16) != 0 || std::memcmp(block + 16, code, 4) != 0) {
        reply->consumed = 0;
        return reply->Refuse(kInvalidFieldInList);
    }
    if (m_coveredBytes == SIM_FIRMWARE_AREA_SIZE) {
        // A complete download since the last switch: the drive takes the image.
        m_revision.assign(reinterpret_cast<const char*>(&m_area[144]), 4);
        m_date.assign(reinterpret_cast<const char*>(&m_area[304]), 8);
        ++m_applied;
        switch (m_config.afterSwitch) {
        case SimAfterSwitch::Keep: m_idBlock[32] = m_normalState; break;
        case SimAfterSwitch::Blank: m_idBlock[32] = SIM_STATE_BLANK; break;
        case SimAfterSwitch::Silent: m_silent = true; break;
        }
    } else {
        // Otherwise the drive waits for an image: its state byte reads blank.
        m_idBlock[32] = SIM_STATE_BLANK;
    }
    m_covered.clear();
    m_coveredBytes = 0;
}

bool SimDrive::RequireMedium(Reply* reply) {
    if (m_trayOpen) {
        reply->Refuse(kNoMediumOpen);
        return false;
    }
    if (!m_discLoaded) {
        reply->Refuse(kNoMediumClosed);
        return false;
    }
    return true;
}

void SimDrive::StartStop(const uint8_t* cdb, Reply* reply) {
    const bool start = cdb[4] & 0x01;
    const bool loadEject = cdb[4] & 0x02;
    if (!loadEject) return;
    if (start) {
        m_trayOpen = false;
        return;
    }
    if (m_config.ejectWithoutDiscFails && !RequireMedium(reply)) return;
    m_trayOpen = true;
}

void SimDrive::ReadDiscInfo(const uint8_t* cdb, Reply* reply) {
    if ((cdb[1] & 0x07) != 0) return reply->Refuse(kInvalidFieldInCdb);
    if (!RequireMedium(reply)) return;
    uint8_t d[34] = {};
    d[1] = 32;     // length after these two bytes
    d[2] = 0x0E;   // complete disc, complete last session
    d[3] = 1;      // first track
    d[4] = 1;      // sessions
    d[5] = 1;      // first track of the last session
    d[6] = 1;      // last track of the last session
    d[7] = 0x20;   // unrestricted use
    std::memset(d + 16, 0xFF, 8);  // no next session
    reply->Answer(d, sizeof d, Be16(cdb + 7));
}

void SimDrive::ReadTrackInfo(const uint8_t* cdb, Reply* reply) {
    if ((cdb[1] & 0x03) == 0x03) return reply->Refuse(kInvalidFieldInCdb);
    if (!RequireMedium(reply)) return;
    uint8_t d[48] = {};
    d[1] = 46;
    d[2] = 1;     // track
    d[3] = 1;     // session
    d[5] = 0x04;  // data track
    d[6] = 0x01;  // mode 1
    PutBe32(d + 24, kDiscBlocks);
    reply->Answer(d, sizeof d, Be16(cdb + 7));
}

void SimDrive::ReadToc(const uint8_t* cdb, Reply* reply) {
    const bool msf = cdb[1] & 0x02;
    const uint8_t format = (cdb[2] & 0x0F) | (cdb[9] >> 6);
    const uint8_t track = cdb[6];
    if (format != 0 || (track > 1 && track != 0xAA)) return reply->Refuse(kInvalidFieldInCdb);
    if (!RequireMedium(reply)) return;
    uint8_t d[20] = {};
    size_t n = 4;
    auto descriptor = [&](uint8_t number, uint32_t lba) {
        d[n + 1] = 0x14;  // ADR 1, data track
        d[n + 2] = number;
        if (msf) {
            const uint32_t frames = lba + 150;
            d[n + 5] = uint8_t(frames / (75 * 60));
            d[n + 6] = uint8_t(frames / 75 % 60);
            d[n + 7] = uint8_t(frames % 75);
        } else {
            PutBe32(d + n + 4, lba);
        }
        n += 8;
    };
    if (track <= 1) descriptor(1, 0);
    descriptor(0xAA, kDiscBlocks);
    d[1] = uint8_t(n - 2);
    d[2] = 1;
    d[3] = 1;
    reply->Answer(d, n, Be16(cdb + 7));
}

void SimDrive::GetEventStatus(const uint8_t* cdb, Reply* reply) {
    const bool polled = cdb[1] & 0x01;
    if (!polled && m_config.gesnRequiresPolled) return reply->Refuse(kInvalidFieldInCdb);
    const uint32_t allocation = Be16(cdb + 7);
    if (cdb[4] & 0x10) {
        uint8_t d[8] = {0x00, 0x06, 0x04, 0x10, 0x00, 0x00, 0x00, 0x00};
        d[5] = uint8_t((m_trayOpen ? 0x01 : 0) | (m_discLoaded && !m_trayOpen ? 0x02 : 0));
        return reply->Answer(d, sizeof d, allocation);
    }
    const uint8_t none[4] = {0x00, 0x02, 0x80, 0x10};  // no event of the classes asked for
    reply->Answer(none, sizeof none, allocation);
}

void SimDrive::RequestSense(const uint8_t* cdb, Reply* reply) {
    uint8_t d[18] = {};
    d[0] = 0x70;
    d[7] = 10;
    if (m_received <= m_config.readyAfter) {
        d[2] = kNotReadyBecoming.key;
        d[12] = kNotReadyBecoming.asc;
        d[13] = kNotReadyBecoming.ascq;
    }
    reply->Answer(d, sizeof d, cdb[4]);
}

std::vector<SimCommandRecord> SimDrive::Transcript() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transcript;
}

SimCommandRecord SimDrive::Record(size_t index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_transcript.size() ? m_transcript[index] : SimCommandRecord();
}

void SimDrive::ClearTranscript() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transcript.clear();
    ++m_epoch;
}

std::string SimDrive::Revision() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_revision;
}

std::string SimDrive::Date() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_date;
}

uint8_t SimDrive::StateByte() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_idBlock[32];
}

bool SimDrive::MediumPresent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_discLoaded && !m_trayOpen;
}

bool SimDrive::TrayOpen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trayOpen;
}

bool SimDrive::Vanished() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vanished;
}

int SimDrive::ImagesApplied() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_applied;
}

std::vector<uint8_t> SimDrive::FirmwareArea() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_area;
}

std::vector<uint8_t> SimDrive::FirmwareArea(uint32_t offset, uint32_t length) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (offset >= m_area.size()) return {};
    const uint32_t size = std::min<uint32_t>(length, uint32_t(m_area.size()) - offset);
    return std::vector<uint8_t>(m_area.begin() + offset, m_area.begin() + offset + size);
}

uint64_t SimDrive::ImageDigest() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return SimDigest(m_area.data(), m_area.size());
}

uint32_t SimDrive::DownloadCovered() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_coveredBytes;
}

std::string SimDrive::StatusLine() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    char line[256];
    std::snprintf(line, sizeof line,
                  "%c revision=%s date=%s state=%02X medium=%s tray=%s download=%u applied=%d digest=%s "
                  "commands=%u vanished=%s",
                  m_config.letter, m_revision.c_str(), m_date.c_str(), m_idBlock[32],
                  m_discLoaded && !m_trayOpen ? "yes" : "no", m_trayOpen ? "open" : "closed",
                  unsigned(m_coveredBytes), m_applied, SimDigestText(SimDigest(m_area.data(), m_area.size())).c_str(),
                  unsigned(m_received), m_vanished ? "yes" : "no");
    return line;
}

uint64_t SimDigest(const uint8_t* data, size_t size, uint64_t seed) {
    uint64_t h = seed;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string SimDigestText(uint64_t digest) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

bool SimDigestFile(const std::string& path, uint64_t* digest, uint64_t limit) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint64_t h = 0xcbf29ce484222325ull;
    uint8_t chunk[65536];
    uint64_t left = limit;
    bool ok = true;
    while (left > 0) {
        const size_t want = size_t(std::min<uint64_t>(left, sizeof chunk));
        const size_t got = std::fread(chunk, 1, want, f);
        h = SimDigest(chunk, got, h);
        left -= got;
        if (got < want) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    if (ok) *digest = h;
    return ok;
}
