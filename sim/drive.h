// The emulated TORVELL DVD-RW WKZ4471: what the drive reports and accepts, its
// firmware download, configurable faults, and a transcript of every command.
// Native tests and the demo only; never part of the shipped program.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

constexpr uint32_t SIM_FIRMWARE_AREA_SIZE = 0x1E0000;  // 60 blocks of 32 KiB
constexpr uint32_t SIM_SWITCH_BLOCK_SIZE = 256;
constexpr uint32_t SIM_ID_BLOCK_SIZE = 48;
constexpr uint32_t SIM_INQUIRY_SIZE = 96;
constexpr uint8_t SIM_STATE_BLANK = 0x20;

// Directions, as the request interface numbers them.
constexpr int SIM_DIR_OUT = 0;
constexpr int SIM_DIR_IN = 1;
constexpr int SIM_DIR_NONE = 2;

// SCSI status values Execute returns, and the one outcome that is not a status.
constexpr int SIM_STATUS_GOOD = 0x00;
constexpr int SIM_STATUS_CHECK_CONDITION = 0x02;
constexpr int SIM_NO_ANSWER = -1;  // the drive never completed the command

extern const char SIM_DEFAULT_IDENTIFICATION[];  // "TORVELL DVD-RW  WKZ4471 "
extern const char SIM_DEFAULT_SIGNATURE[];       // 16 bytes: "0082VARNDT  " + "5518"
extern const char SIM_SWITCH_MODEL_TEXT[];       // "TORVELL  WKZ-H52"
constexpr uint32_t SIM_SWITCH_CODE = 0x5E1A7C93;

struct SimSense {
    uint8_t key = 0, asc = 0, ascq = 0;
    bool operator==(const SimSense& o) const { return key == o.key && asc == o.asc && ascq == o.ascq; }
};

// What the adapter between host and drive reports as the residual (the bytes the
// request asked for that did not move). Real ones differ: USB bridges with
// usb-storage's IGNORE_RESIDUE quirk report 0 whatever arrived.
enum class SimResidual {
    Honest,    // the request's length less what moved
    Zero,      // 0: "everything moved"
    Negative,  // below 0
    Over,      // more than the request
};

// A fault: which received commands it matches, and what the drive then does.
struct SimFault {
    uint32_t nth = 0;       // 1-based number of the command on this drive; 0 = any
    int opcode = -1;        // CDB byte 0; -1 = any
    int bufferId = -1;      // CDB byte 2 (READ/WRITE BUFFER); -1 = any
    int64_t offset = -1;    // CDB bytes 3..5 (READ/WRITE BUFFER); -1 = any
    int times = -1;         // matches acted on; -1 = every one (nth matches once anyway)
    int skip = 0;           // matches let pass before the first one acted on
    bool applied = false;   // only once an image has been applied

    bool refuse = false;    // CHECK CONDITION with `sense`
    SimSense sense;
    uint32_t delayMs = 0;   // answer only after this long (through OsTime().Sleep)
    bool noAnswer = false;  // never complete this command
    bool vanish = false;    // the drive is gone from this command on
    int64_t shortTo = -1;   // transfer at most this many bytes (data-out: take them, answer GOOD)
    SimResidual residual = SimResidual::Honest;  // what the adapter reports
};

enum class SimAfterSwitch {
    Keep,    // the state byte reads as before the download
    Blank,   // the state byte reads blank after the image is applied
    Silent,  // READ BUFFER is no longer answered after the image is applied
};

struct SimDriveConfig {
    char letter = 'D';
    std::string identification = SIM_DEFAULT_IDENTIFICATION;  // 24 bytes, INQUIRY 8..31
    std::string revision = "1.00";                             // 4 bytes, INQUIRY 32..35
    std::string date = "09/07/15";                             // 8 bytes, INQUIRY 37..44
    std::string signature = std::string(SIM_DEFAULT_SIGNATURE, 16);  // id block 16..31
    uint8_t state = 0x01;                                      // id block 32
    std::string idBlock;  // 48 bytes replacing the whole block when not empty
    bool discLoaded = false;
    bool trayOpen = false;
    bool ejectWithoutDiscFails = true;   // eject with no medium: 02/3A/xx
    bool gesnRequiresPolled = false;     // GET EVENT STATUS with Polled clear: 05/24/00
    uint32_t readyAfter = 0;             // the first N commands see 02/04/01 (INQUIRY excepted)
    SimAfterSwitch afterSwitch = SimAfterSwitch::Keep;
    std::vector<SimFault> faults;
};

// One command as the drive received it, and how it answered.
struct SimCommandRecord {
    std::array<uint8_t, 12> cdb{};  // the host's 12 bytes, those past cdbLength included
    int cdbLength = 0;
    int direction = SIM_DIR_NONE;
    uint32_t dataLength = 0;        // the transfer length the host offered
    int status = SIM_STATUS_GOOD;   // or SIM_NO_ANSWER
    SimSense sense;                 // of a CHECK CONDITION
    uint32_t transferred = 0;       // bytes actually moved

    uint8_t Opcode() const { return cdb[0]; }
    uint32_t BufferOffset() const { return (uint32_t(cdb[3]) << 16) | (uint32_t(cdb[4]) << 8) | cdb[5]; }
    uint32_t BufferLength() const { return (uint32_t(cdb[6]) << 16) | (uint32_t(cdb[7]) << 8) | cdb[8]; }
    // "D 3B05F0..." style line, as the server writes it.
    std::string Format(char letter) const;
};

// The outcome of one request, for attachments that need more than the status.
struct SimResult {
    int status = SIM_STATUS_GOOD;  // or SIM_NO_ANSWER
    uint32_t transferred = 0;      // data bytes moved (in either direction)
    int64_t residual = 0;          // what the adapter reports as not moved
    int senseWritten = 0;          // sense bytes written
    size_t record = 0;             // the command's place in the transcript
};

class SimDrive {
public:
    explicit SimDrive(const SimDriveConfig& config = SimDriveConfig());
    SimDrive(const SimDrive&) = delete;
    SimDrive& operator=(const SimDrive&) = delete;

    // Carries out one command. `cdb` is a 12-byte array (as every CDB here is; the
    // transcript keeps all 12); the drive acts on its first cdbLen bytes and reads
    // the rest as zero, as the bus would deliver them. Data goes out from, or comes in to, `data` by
    // direction and length; on CHECK CONDITION up to senseLen bytes of fixed-format
    // sense are written (nothing otherwise). Returns the SCSI status, or
    // SIM_NO_ANSWER when the drive does not complete the command.
    int Execute(const uint8_t* cdb, int cdbLen, int direction, uint8_t* data, uint32_t length,
                uint8_t* sense, int senseLen);
    SimResult Run(const uint8_t* cdb, int cdbLen, int direction, uint8_t* data, uint32_t length,
                  uint8_t* sense, int senseLen);

    // Back to what a drive newly made with the same config is: firmware area,
    // download, identification, tray, faults' counts, command count, transcript.
    // Costs only what was changed since (a run that reuses one drive for many
    // updates resets it instead of making another).
    void Reset();

    char Letter() const { return m_config.letter; }
    const SimDriveConfig& Config() const { return m_config; }

    std::vector<SimCommandRecord> Transcript() const;
    SimCommandRecord Record(size_t index) const;  // an empty record past the end
    void ClearTranscript();

    // What the drive now reports.
    std::string Revision() const;
    std::string Date() const;
    uint8_t StateByte() const;
    bool MediumPresent() const;
    bool TrayOpen() const;
    bool Vanished() const;
    int ImagesApplied() const;

    // The firmware area as received (unwritten bytes read FFh), its digest, and
    // how much of it the current download has covered.
    std::vector<uint8_t> FirmwareArea() const;
    // `length` bytes of it from `offset` (cut at its end).
    std::vector<uint8_t> FirmwareArea(uint32_t offset, uint32_t length) const;
    uint64_t ImageDigest() const;
    uint32_t DownloadCovered() const;

    // One line: revision, date, state, tray, download, digest.
    std::string StatusLine() const;

private:
    struct Reply;
    int FaultsFor(uint32_t number, const uint8_t* cdb, SimFault* combined);
    void Dispatch(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length, Reply* reply);
    void Inquiry(const uint8_t* cdb, Reply* reply);
    void ReadBuffer(const uint8_t* cdb, Reply* reply);
    void WriteBuffer(const uint8_t* cdb, const uint8_t* data, uint32_t length, Reply* reply);
    void ModeSwitch(const uint8_t* block, Reply* reply);
    void StartStop(const uint8_t* cdb, Reply* reply);
    bool RequireMedium(Reply* reply);
    void ReadDiscInfo(const uint8_t* cdb, Reply* reply);
    void ReadTrackInfo(const uint8_t* cdb, Reply* reply);
    void ReadToc(const uint8_t* cdb, Reply* reply);
    void GetEventStatus(const uint8_t* cdb, Reply* reply);
    void RequestSense(const uint8_t* cdb, Reply* reply);
    void ResetLocked();
    uint32_t Cover(uint32_t begin, uint32_t end);

    mutable std::mutex m_mutex;
    SimDriveConfig m_config;
    std::array<uint8_t, SIM_ID_BLOCK_SIZE> m_idBlock{};
    std::string m_revision, m_date;
    uint8_t m_normalState = 0;
    bool m_discLoaded = false, m_trayOpen = false;
    bool m_vanished = false;
    bool m_silent = false;
    int m_applied = 0;
    uint32_t m_received = 0;
    std::vector<int> m_faultUses;
    std::vector<int> m_faultSkips;
    std::vector<uint8_t> m_area;
    // Bytes of the area ever written since the drive was made or reset: [low, high).
    uint32_t m_writtenLow = SIM_FIRMWARE_AREA_SIZE, m_writtenHigh = 0;
    // What the current download has covered: disjoint, non-adjacent [begin, end) ranges.
    std::map<uint32_t, uint32_t> m_covered;
    uint32_t m_coveredBytes = 0;
    std::vector<SimCommandRecord> m_transcript;
    uint64_t m_epoch = 0;  // bumped when the transcript is cleared
};

// FNV-1a, 64 bits.
uint64_t SimDigest(const uint8_t* data, size_t size, uint64_t seed = 0xcbf29ce484222325ull);
std::string SimDigestText(uint64_t digest);
// Digest of a file's first `limit` bytes (what a download sends of it); false when
// the file cannot be read.
bool SimDigestFile(const std::string& path, uint64_t* digest, uint64_t limit = SIM_FIRMWARE_AREA_SIZE);
