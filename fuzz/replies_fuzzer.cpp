// The drive's replies, any bytes, through what the unattended run does: discovery,
// the INQUIRY and the version check, the disc check, and the update on its worker;
// and the image file changed under the update.
//
// Every command the program issues meets the emulated drive first; then the input
// decides what the program gets back: the drive's own answer, or a reply of its
// own (any SCSI status, any number of data-in bytes with any content, any count of
// data-out bytes taken, sense bytes of any length and content), the drive's data
// with a few bytes changed and perhaps cut short, a command that never completes
// (the system gives up after the record's time-out), a request the system
// refuses, or the drive vanishing for good. When the input runs out the drive
// answers for itself. The input may also change the image once during the update,
// after a command of its choosing: one byte written over in place, the file
// replaced by another (an older version), deleted or cut short.
//
// The system's report of what moved may lie (all of it, or more than asked),
// and a decision may rest only on bytes that truly arrived.
//
// Rules: one command in flight at a time; discovery writes nothing; an update
// starts only on an INQUIRY reply that truly held the revision (and the date,
// when the revisions are equal); no WRITE BUFFER unless validation's
// identification block truly arrived with its state byte and the image's
// signature, and no block of an image
// replaced before validation; every firmware block carries the validated bytes at
// its offset, in order, whatever happened to the file after validation read it
// (written over in place, cut short, replaced, deleted); nothing follows a WRITE
// BUFFER the drive took in part; and
// the update reports success only after all 60 validated blocks and the final
// switch, when the last state read said non-blank or the drive did not
// answer it.
#include "fuzz/harness.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/scan_probe.h"
#include "engine/update.h"
#include "os/device.h"
#include "os/time.h"
#include "sim/device_port.h"
#include "sim/image.h"
#include "transport/discovery.h"
#include "transport/transport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

enum Reply : uint8_t { AS_ANSWERED, PATCHED, OWN_REPLY, NEVER_COMPLETES, SYSTEM_REFUSES, VANISHES, REPLY_KINDS };
enum FileChange : uint8_t { NO_CHANGE, WRITE_OVER, REPLACE, DELETE, CUT_SHORT, FILE_CHANGES };

constexpr size_t kNotStarted = static_cast<size_t>(-1);

struct Issued : IssuedCommand {
    bool answered = false;  // PassThrough returned true
    uint8_t status = 0;
    uint32_t asked = 0;     // the record's transfer length
    uint32_t moved = 0;     // what the system reported moved (at most the request)
    uint32_t arrived = 0;   // what truly arrived (data-in): the report may lie
    std::vector<uint8_t> data;     // INQUIRY, identification block: what the program got
    bool matchesValidated = true;  // a firmware block: the validated bytes at its offset
    bool Complete() const { return answered && status == 0; }
    bool IsModeSwitch() const { return cdb[0] == WRITE_BUFFER_CMD && cdb[2] == BUFFER_MODE_SWITCH; }
    bool IsInquiry() const { return cdb[0] == INQUIRY_CMD; }
};

const std::vector<uint8_t>& Image() {
    static const std::vector<uint8_t> image = SimMakeImage(SimImageOptions());
    return image;
}

// The image with another (older) version: what replaces it.
const std::vector<uint8_t>& OlderImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> older = Image();
        std::memcpy(older.data() + IMAGE_VERSION_OFFSET, "0.90", 4);
        return older;
    }();
    return image;
}

// The image file at its path, and the files the inputs change it with: each
// written once. An input's change is undone before the next input, at the cost
// of what it changed.
struct ImageFiles {
    std::string path;    // the image
    std::string older;   // another file with the older version, linked in to replace it
    std::string kept;    // the image's own file while another name stands at the path
    FileChange changed = NO_CHANGE;
    uint32_t at = 0;     // the byte written over, or where the file was cut
};

ImageFiles& Files() {
    static ImageFiles files = [] {
        ImageFiles f;
        f.path = FuzzScratchDir() + "/" + IMAGE_FILE_NAME;
        f.older = FuzzScratchDir() + "/older";
        f.kept = FuzzScratchDir() + "/kept";
        FuzzCheck(FuzzWriteFile(f.path, Image().data(), Image().size()) &&
                      FuzzWriteFile(f.older, OlderImage().data(), OlderImage().size()),
                  "image written");
        return f;
    }();
    return files;
}

// The image as it was before the last input changed it.
const std::string& ImagePath() {
    ImageFiles& f = Files();
    switch (f.changed) {
    case WRITE_OVER:
    case CUT_SHORT: {
        const int fd = ::open(f.path.c_str(), O_WRONLY | O_CLOEXEC);
        const size_t count = f.changed == WRITE_OVER ? 1 : Image().size() - f.at;
        FuzzCheck(fd >= 0 && ::pwrite(fd, Image().data() + f.at, count, f.at) == ssize_t(count) && ::close(fd) == 0,
                  "image restored");
        break;
    }
    case REPLACE:
    case DELETE:
        FuzzCheck(std::rename(f.kept.c_str(), f.path.c_str()) == 0, "image restored");
        break;
    default:
        break;
    }
    f.changed = NO_CHANGE;
    return f.path;
}

// What validation read: the image, with one byte written over when that happened
// right after the update's first command (the identification block read, after
// which validation reads the file).
struct ValidatedImage {
    long patchedAt = -1;
    uint8_t patch = 0;

    uint8_t At(size_t i) const { return long(i) == patchedAt ? patch : Image()[i]; }
    bool Holds(const void* data, uint32_t offset, uint32_t length) const {
        if (uint64_t(offset) + length > Image().size()) return false;
        const auto* bytes = static_cast<const uint8_t*>(data);
        const uint8_t* image = Image().data() + offset;
        if (patchedAt < long(offset) || patchedAt >= long(offset) + long(length))
            return std::memcmp(bytes, image, length) == 0;
        const size_t p = size_t(patchedAt) - offset;
        return std::memcmp(bytes, image, p) == 0 && bytes[p] == patch &&
               std::memcmp(bytes + p + 1, image + p + 1, length - p - 1) == 0;
    }
};

class FuzzedReplies : public DevicePort {
public:
    FuzzedReplies(SimDevicePort& sim, FuzzedDataProvider& input) : m_sim(sim), m_input(input) {
        m_change = static_cast<FileChange>(m_input.ConsumeIntegral<uint8_t>() % FILE_CHANGES);
        m_changeAfter = m_input.ConsumeIntegral<uint8_t>();
        m_changeAt = m_input.ConsumeIntegral<uint32_t>() % IMAGE_TRANSFER_SIZE;
    }

    OsHandle Open(char letter) override { return m_vanished ? nullptr : m_sim.Open(letter); }
    void Close(OsHandle device) override { m_sim.Close(device); }

    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        FuzzCheck(m_inFlight.fetch_add(1) == 0, "one drive command in flight at a time");
        const uint32_t asked = buffer->sptd.DataTransferLength;
        const bool answered = Carry(device, buffer);
        Log(buffer->sptd, asked, answered);
        if (updateStart != kNotStarted && issued.size() - updateStart == size_t(m_changeAfter) + 1)
            ChangeImage();
        m_inFlight.fetch_sub(1);
        return answered;
    }

    std::vector<Issued> issued;
    size_t updateStart = kNotStarted;  // set before the update's worker starts
    ValidatedImage validated;
    FileChange applied = NO_CHANGE;
    size_t changedAfter = 0;  // number of the update command after which it was applied

private:
    bool Carry(OsHandle device, SptdBuffer* buffer) {
        if (m_vanished) return false;
        ScsiPassThroughDirect& r = buffer->sptd;
        const uint8_t kind = m_input.ConsumeIntegral<uint8_t>() % REPLY_KINDS;
        switch (kind) {
        case NEVER_COMPLETES:
            OsTime().Sleep(r.TimeOutValue * 1000u);
            return false;
        case SYSTEM_REFUSES:
            return false;
        case VANISHES:
            m_vanished = true;
            return false;
        default:
            break;
        }
        // A transfer cut short leaves the rest of the buffer as it was before; and
        // the system may report it wrongly: all of it (an adapter that reports no
        // residue), or more than asked.
        const bool dataIn = r.DataIn == SPTD_DATA_IN && r.DataBuffer != nullptr;
        uint8_t* bytes = static_cast<uint8_t*>(r.DataBuffer);
        const uint32_t asked = r.DataTransferLength;
        std::vector<uint8_t> before;
        if (dataIn && kind != AS_ANSWERED) before.assign(bytes, bytes + asked);
        auto transferred = [&](uint32_t count) {
            std::memcpy(bytes + count, before.data() + count, asked - count);
            m_arrived = count;
            switch (m_input.ConsumeIntegral<uint8_t>() % 3) {
            case 1: r.DataTransferLength = asked; break;
            case 2: r.DataTransferLength = asked + 1 + m_input.ConsumeIntegral<uint8_t>(); break;
            default: r.DataTransferLength = count; break;
            }
        };

        m_arrived = 0;
        if (!m_sim.PassThrough(device, buffer)) return false;
        m_arrived = dataIn ? std::min(r.DataTransferLength, asked) : 0;
        if (kind == AS_ANSWERED) return true;
        if (kind == PATCHED) {
            // Near misses: a signature one byte off, a revision digit changed, a
            // block that ends early (the rest of the buffer is what it held).
            if (!dataIn || r.DataTransferLength == 0) return true;
            for (int n = m_input.ConsumeIntegralInRange(1, 4); n > 0; --n)
                bytes[m_input.ConsumeIntegralInRange<uint32_t>(0, r.DataTransferLength - 1)] =
                    m_input.ConsumeIntegral<uint8_t>();
            if (m_input.ConsumeBool()) transferred(m_input.ConsumeIntegralInRange<uint32_t>(0, r.DataTransferLength));
            return true;
        }

        // A reply of the input's: status, data (or, for data-out, the bytes taken),
        // sense. The system writes at most the record's sense length and reports how
        // much it wrote.
        r.ScsiStatus = m_input.ConsumeIntegral<uint8_t>();
        if (dataIn) {
            const std::vector<uint8_t> reply =
                m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange<uint32_t>(0, asked));
            if (!reply.empty()) std::memcpy(bytes, reply.data(), reply.size());
            transferred(static_cast<uint32_t>(reply.size()));
        } else if (asked > 0 && m_input.ConsumeBool()) {
            r.DataTransferLength = m_input.ConsumeIntegralInRange<uint32_t>(0, asked + 16);
        }
        const std::vector<uint8_t> sense = m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegral<uint8_t>());
        const size_t written = std::min<size_t>(sense.size(), r.SenseInfoLength);
        uint8_t* area = reinterpret_cast<uint8_t*>(buffer) + r.SenseInfoOffset;
        std::memset(area, 0, r.SenseInfoLength);
        if (written) std::memcpy(area, sense.data(), written);
        r.SenseInfoLength = static_cast<uint8_t>(written);
        return true;
    }

    void Log(const ScsiPassThroughDirect& r, uint32_t asked, bool answered) {
        Issued c;
        std::memcpy(c.cdb, r.Cdb, sizeof c.cdb);
        c.answered = answered;
        c.status = r.ScsiStatus;
        c.asked = asked;
        c.moved = std::min(r.DataTransferLength, asked);
        c.arrived = answered ? m_arrived : 0;
        if ((c.IsIdBlockRead() || c.IsInquiry()) && r.DataBuffer) {
            const auto* bytes = static_cast<const uint8_t*>(r.DataBuffer);
            c.data.assign(bytes, bytes + asked);
        }
        if (c.IsFirmwareBlock()) c.matchesValidated = validated.Holds(r.DataBuffer, c.Offset(), c.Length());
        issued.push_back(c);
    }

    void ChangeImage() {
        if (m_change == NO_CHANGE || applied != NO_CHANGE) return;
        ImageFiles& f = Files();
        const std::string& path = f.path;
        applied = m_change;
        changedAfter = issued.size() - updateStart;
        const bool beforeValidation = changedAfter == 1;
        f.changed = m_change;
        f.at = m_changeAt;
        switch (m_change) {
        case WRITE_OVER: {
            // In place, with no lock asked for, as any other writer may.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            FuzzCheck(fd >= 0, "image opened for writing over");
            const uint8_t byte = static_cast<uint8_t>(Image()[m_changeAt] ^ 0x5A);
            FuzzCheck(::pwrite(fd, &byte, 1, m_changeAt) == 1 && ::close(fd) == 0, "image written over");
            if (beforeValidation) {
                validated.patchedAt = long(m_changeAt);
                validated.patch = byte;
            }
            break;
        }
        case REPLACE: {
            // Another file renamed over it; its own file is kept under another name.
            const std::string temp = path + ".new";
            FuzzCheck(::link(path.c_str(), f.kept.c_str()) == 0 && ::link(f.older.c_str(), temp.c_str()) == 0 &&
                          std::rename(temp.c_str(), path.c_str()) == 0,
                      "image replaced");
            break;
        }
        case DELETE:
            FuzzCheck(::link(path.c_str(), f.kept.c_str()) == 0 && std::remove(path.c_str()) == 0, "image deleted");
            break;
        case CUT_SHORT:
            FuzzCheck(::truncate(path.c_str(), m_changeAt) == 0, "image cut short");
            break;
        default:
            break;
        }
    }

    SimDevicePort& m_sim;
    FuzzedDataProvider& m_input;
    FileChange m_change = NO_CHANGE;
    uint8_t m_changeAfter = 0;
    uint32_t m_changeAt = 0;
    bool m_vanished = false;
    uint32_t m_arrived = 0;  // data-in bytes the last command truly delivered
    std::atomic<int> m_inFlight{0};
};

// The signature check of validation, as the rule to hold the program to: the
// block truly arrived (whatever the system reported) up to its state byte, and
// its two 8-byte halves of bytes 16..31, each read as a C string, equal those of
// the image validated.
bool BlockMatchesImage(const Issued& read, const ValidatedImage& image) {
    if (!read.Complete() || read.arrived <= STATE_BYTE_OFFSET) return false;
    for (int half = 0; half < 2; ++half) {
        char got[9] = {}, want[9] = {};
        std::memcpy(got, read.data.data() + 16 + 8 * half, 8);
        const uint32_t from = half ? IMAGE_SIGNATURE2_OFFSET : IMAGE_SIGNATURE1_OFFSET;
        for (uint32_t i = 0; i < 8; ++i) want[i] = char(image.At(from + i));
        if (std::strcmp(got, want) != 0) return false;
    }
    return true;
}

// The version rule's inputs truly arrived, whatever the system reported: the
// revision, and the date when the revisions are equal as text.
bool InquiryHeldWhatTheRuleNeeds(const Issued& inquiry) {
    if (!inquiry.Complete() || inquiry.arrived < INQUIRY_REVISION_END) return false;
    char revision[5] = {};
    std::memcpy(revision, inquiry.data.data() + 32, 4);
    char version[5] = {};
    std::memcpy(version, Image().data() + IMAGE_VERSION_OFFSET, 4);
    return std::strcmp(revision, version) != 0 || inquiry.arrived >= INQUIRY_DATE_END;
}

void CheckUpdate(const FuzzedReplies& port, const std::vector<unsigned>& notes) {
    const std::vector<Issued>& all = port.issued;
    const size_t start = port.updateStart;
    if (start >= all.size()) {
        FuzzCheck(notes.empty() || notes.back() != NOTIFY_UPDATE_OK, "no success without a command");
        return;
    }
    FuzzCheck(all[start].IsIdBlockRead(), "the update starts with validation's block read");
    // An image replaced, deleted or cut short before validation read it never goes out.
    const bool gone = port.changedAfter == 1 && port.applied != NO_CHANGE && port.applied != WRITE_OVER;
    const bool validated = !gone && BlockMatchesImage(all[start], port.validated);

    uint32_t nextBlock = 0;
    bool allBlocksValidated = true, switchAfterBlocks = false;
    for (size_t i = start; i < all.size(); ++i) {
        const Issued& c = all[i];
        if (c.IsWriteBuffer()) {
            FuzzCheck(validated, "no WRITE BUFFER unless validation passed");
            FuzzCheck(!(c.Complete() && c.moved < c.asked) || i + 1 == all.size(),
                      "nothing follows a WRITE BUFFER the drive took in part");
        }
        if (c.IsFirmwareBlock()) {
            FuzzCheck(c.Offset() == nextBlock && c.Length() == IMAGE_BLOCK_SIZE,
                      "firmware blocks go in order, 32 KiB each");
            nextBlock += IMAGE_BLOCK_SIZE;
            FuzzCheck(c.matchesValidated, "a firmware block carries the validated bytes");
            allBlocksValidated = allBlocksValidated && c.matchesValidated;
        }
        if (c.IsModeSwitch() && nextBlock > 0) {
            FuzzCheck(allBlocksValidated, "no final mode switch after a block that was not validated");
            switchAfterBlocks = true;
        }
    }
    FuzzCheck(!notes.empty() && (notes.back() == NOTIFY_UPDATE_OK || notes.back() == NOTIFY_UPDATE_FAILED),
              "the update ends with its report");
    if (notes.back() == NOTIFY_UPDATE_OK) {
        const Issued& last = all.back();
        FuzzCheck(nextBlock == IMAGE_TRANSFER_SIZE && allBlocksValidated && switchAfterBlocks,
                  "success only after the 60 validated blocks and the final switch");
        FuzzCheck(last.IsIdBlockRead() && (!last.Complete() || (last.arrived > STATE_BYTE_OFFSET &&
                                                                last.data[STATE_BYTE_OFFSET] != STATE_BLANK)),
                  "success only when the last state read's byte that arrived said non-blank, or the drive did not answer it");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInit();
    FuzzResetEngine();
    const std::string& path = ImagePath();
    FuzzedDataProvider input(data, size);
    FuzzedReplies port(FuzzDrives(), input);
    OsSetDevices(&port);
    FuzzHost host;

    // Discovery (the unattended dialog's: one drive or nothing).
    WorkerScanHost scan(&host);
    const int found = ScanDrivesSpti(scan);
    FuzzCheck(found == 0 || (found == 1 && g_devices[0].driveLetter == 'D'), "only drive D can be found");
    for (const Issued& c : port.issued) FuzzCheck(!c.IsWriteBuffer(), "discovery writes nothing");

    if (found == 1) {
        if (g_hDevice == nullptr) g_hDevice = OpenDevice('D');
        if (g_hDevice != nullptr) {
            const uint32_t inquiryLength = CmdInquiry(INQUIRY_LENGTH) ? g_bytesTransferred : 0;
            const Issued inquiry = port.issued.back();
            uint8_t reply[INQUIRY_LENGTH];
            std::memcpy(reply, g_dataIn, sizeof reply);
            VersionRecord record;
            const int needed = ImageUpdateNeeded(reply, inquiryLength, path.c_str(), record);
            FuzzCheck(needed != IMAGE_UNREADABLE, "the image stays readable");
            FuzzCheck(needed != IMAGE_NEEDED || InquiryHeldWhatTheRuleNeeds(inquiry),
                      "an update only on an INQUIRY reply that truly held what the version rule needs");
            CloseDevice(g_hDevice);

            // The main dialog's disc check; its report closes the handle.
            CheckDiscPresent(&host, 'D');
            WaitForWorker(OS_WAIT_FOREVER);
            CloseDevice(g_hDevice);

            if (needed == IMAGE_NEEDED) {
                FuzzCheck(SetImagePath(path.c_str()), "image path fits");
                SetCheckedImage(record.imageVersion, record.imageDate);
                const size_t notesBefore = host.Notes().size();
                port.updateStart = port.issued.size();
                g_workerOp = OP_UPDATE;
                if (StartWorker(&host, 'D', false)) {
                    WaitForWorker(OS_WAIT_FOREVER);
                    const std::vector<unsigned> notes = host.Notes();
                    CheckUpdate(port, std::vector<unsigned>(notes.begin() + long(notesBefore), notes.end()));
                }
                CloseDevice(g_hDevice);
            }
        }
    }
    WaitForWorker(OS_WAIT_FOREVER);
    CloseDevice(g_hDevice);
    OsSetDevices(nullptr);
    return 0;
}
