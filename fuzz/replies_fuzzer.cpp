// The drive's replies, any bytes, through what the unattended run does: discovery,
// the INQUIRY and the version check, the disc check, and the update on its worker.
//
// Every command the program issues meets the emulated drive first; then the input
// decides what the program gets back: the drive's own answer, or a reply of its
// own (any SCSI status, any number of data-in bytes with any content, sense bytes
// of any length and content), the drive's data with a few bytes changed and
// perhaps cut short, a command that never completes (the system gives
// up after the record's time-out), a request the system refuses, or the drive
// vanishing for good. When the input runs out the drive answers for itself.
//
// Rules: one command in flight at a time; discovery writes nothing; no WRITE
// BUFFER unless the identification block that validation read carried the
// image's signature; every firmware block carries the image's bytes at its
// offset, in order.
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
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Reply : uint8_t { AS_ANSWERED, PATCHED, OWN_REPLY, NEVER_COMPLETES, SYSTEM_REFUSES, VANISHES, REPLY_KINDS };

struct Issued : IssuedCommand {
    bool answered = false;  // PassThrough returned true
    uint8_t status = 0;
    uint8_t idBlock[48] = {};  // a READ BUFFER of the identification block: what the program got
};

class FuzzedReplies : public DevicePort {
public:
    FuzzedReplies(SimDevicePort& sim, FuzzedDataProvider& input, const std::vector<uint8_t>& image)
        : m_sim(sim), m_input(input), m_image(image) {}

    OsHandle Open(char letter) override { return m_vanished ? nullptr : m_sim.Open(letter); }
    void Close(OsHandle device) override { m_sim.Close(device); }

    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        FuzzCheck(m_inFlight.fetch_add(1) == 0, "one drive command in flight at a time");
        const bool answered = Carry(device, buffer);
        Log(buffer->sptd, answered);
        m_inFlight.fetch_sub(1);
        return answered;
    }

    std::vector<Issued> issued;

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
        // A transfer cut short leaves the rest of the buffer as it was before.
        const bool dataIn = r.DataIn == SPTD_DATA_IN && r.DataBuffer != nullptr;
        uint8_t* bytes = static_cast<uint8_t*>(r.DataBuffer);
        const uint32_t asked = r.DataTransferLength;
        std::vector<uint8_t> before;
        if (dataIn && kind != AS_ANSWERED) before.assign(bytes, bytes + asked);
        auto transferred = [&](uint32_t count) {
            std::memcpy(bytes + count, before.data() + count, asked - count);
            r.DataTransferLength = count;
        };

        if (!m_sim.PassThrough(device, buffer)) return false;
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

        // A reply of the input's: status, data, sense. The system writes at most
        // the record's sense length and reports how much it wrote.
        r.ScsiStatus = m_input.ConsumeIntegral<uint8_t>();
        if (dataIn) {
            const std::vector<uint8_t> reply =
                m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange<uint32_t>(0, asked));
            if (!reply.empty()) std::memcpy(bytes, reply.data(), reply.size());
            transferred(static_cast<uint32_t>(reply.size()));
        }
        const std::vector<uint8_t> sense = m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegral<uint8_t>());
        const size_t written = std::min<size_t>(sense.size(), r.SenseInfoLength);
        uint8_t* area = reinterpret_cast<uint8_t*>(buffer) + r.SenseInfoOffset;
        std::memset(area, 0, r.SenseInfoLength);
        if (written) std::memcpy(area, sense.data(), written);
        r.SenseInfoLength = static_cast<uint8_t>(written);
        return true;
    }

    void Log(const ScsiPassThroughDirect& r, bool answered) {
        Issued c;
        std::memcpy(c.cdb, r.Cdb, sizeof c.cdb);
        c.answered = answered;
        c.status = r.ScsiStatus;
        if (c.IsIdBlockRead() && r.DataBuffer) std::memcpy(c.idBlock, r.DataBuffer, sizeof c.idBlock);
        if (c.IsFirmwareBlock()) {
            FuzzCheck(uint64_t(c.Offset()) + c.Length() <= m_image.size() &&
                          std::memcmp(r.DataBuffer, m_image.data() + c.Offset(), c.Length()) == 0,
                      "a firmware block carries the image's bytes at its offset");
        }
        issued.push_back(c);
    }

    SimDevicePort& m_sim;
    FuzzedDataProvider& m_input;
    const std::vector<uint8_t>& m_image;
    bool m_vanished = false;
    std::atomic<int> m_inFlight{0};
};

const std::vector<uint8_t>& Image() {
    static const std::vector<uint8_t> image = SimMakeImage(SimImageOptions());
    return image;
}

const std::string& ImagePath() {
    static const std::string path = [] {
        std::string p = FuzzScratchDir() + "/" + IMAGE_FILE_NAME;
        FuzzCheck(FuzzWriteFile(p, Image().data(), Image().size()), "image written");
        return p;
    }();
    return path;
}

// The signature check of validation, as the rule to hold the program to: the two
// 8-byte halves of block bytes 16..31, each read as a C string, equal the image's.
bool BlockMatchesImage(const Issued& read) {
    if (!read.answered || read.status != 0) return false;
    for (int half = 0; half < 2; ++half) {
        char got[9] = {}, want[9] = {};
        std::memcpy(got, read.idBlock + 16 + 8 * half, 8);
        std::memcpy(want, Image().data() + (half ? IMAGE_SIGNATURE2_OFFSET : IMAGE_SIGNATURE1_OFFSET), 8);
        if (std::strcmp(got, want) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInit();
    FuzzResetEngine();
    const std::string& path = ImagePath();
    FuzzedDataProvider input(data, size);
    SimDevicePort sim;
    sim.AddDrive();
    FuzzedReplies port(sim, input, Image());
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
            uint8_t inquiry[INQUIRY_LENGTH];
            std::memcpy(inquiry, g_dataIn, sizeof inquiry);
            VersionRecord record;
            const int needed = ImageUpdateNeeded(inquiry, inquiryLength, path.c_str(), record);
            FuzzCheck(needed != IMAGE_UNREADABLE, "the image stays readable");
            CloseDevice(g_hDevice);

            // The main dialog's disc check; its report closes the handle.
            CheckDiscPresent(&host, 'D');
            WaitForWorker(OS_WAIT_FOREVER);
            CloseDevice(g_hDevice);

            if (needed == IMAGE_NEEDED) {
                const size_t start = port.issued.size();
                FuzzCheck(SetImagePath(path.c_str()), "image path fits");
                SetCheckedImage(record.imageVersion, record.imageDate);
                g_workerOp = OP_UPDATE;
                if (StartWorker(&host, 'D', false)) {
                    WaitForWorker(OS_WAIT_FOREVER);
                    const std::vector<unsigned> notes = host.Notes();
                    FuzzCheck(!notes.empty() && (notes.back() == NOTIFY_UPDATE_OK ||
                                                 notes.back() == NOTIFY_UPDATE_FAILED),
                              "the update ends with its report");
                }
                CloseDevice(g_hDevice);
                bool validated = false;
                uint32_t nextBlock = 0;
                for (size_t i = start; i < port.issued.size(); ++i) {
                    const Issued& c = port.issued[i];
                    if (i == start) {
                        FuzzCheck(c.IsIdBlockRead(), "the update starts with validation's block read");
                        validated = BlockMatchesImage(c);
                    }
                    if (c.IsWriteBuffer()) FuzzCheck(validated, "no WRITE BUFFER unless validation passed");
                    if (c.IsFirmwareBlock()) {
                        FuzzCheck(c.Offset() == nextBlock && c.Length() == IMAGE_BLOCK_SIZE,
                                  "firmware blocks go in order, 32 KiB each");
                        nextBlock += IMAGE_BLOCK_SIZE;
                    }
                }
            }
        }
    }
    WaitForWorker(OS_WAIT_FOREVER);
    CloseDevice(g_hDevice);
    OsSetDevices(nullptr);
    return 0;
}
