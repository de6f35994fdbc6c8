// Any image file, of any content and length, through the version check and the
// whole update against a well-behaved emulated drive.
//
// Input: byte 0 picks the length, the rest is the file. 0: the file is the rest
// as it is. 1..255: the rest cut or padded with zeros to 1,966,080 - 128 + byte 0
// bytes, so that lengths around the transfer size are reached without megabyte
// inputs.
//
// Rules: the version check reads only a complete header; no WRITE BUFFER of any
// kind unless the header matches the drive and the file holds the whole
// transfer; every firmware block carries exactly the file's bytes at its offset
// and lies inside the file; the update succeeds exactly when the header matches
// and the file holds the whole transfer.
#include "fuzz/harness.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/update.h"
#include "os/device.h"
#include "sim/device_port.h"
#include "transport/discovery.h"
#include "transport/transport.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The file: `body`, then zeros up to `length` bytes.
struct ImageFile {
    std::vector<uint8_t> body;
    size_t length = 0;

    uint8_t At(size_t i) const { return i < body.size() ? body[i] : 0; }
    bool FieldIs(uint32_t offset, const char* text, size_t size) const {
        if (length < offset + size) return false;
        for (size_t i = 0; i < size; ++i)
            if (At(offset + i) != static_cast<uint8_t>(text[i])) return false;
        return true;
    }
    // Whole blocks, compared as memory: byte by byte, the comparisons traced for
    // coverage cost more than the update they check.
    bool Holds(const uint8_t* bytes, uint32_t offset, uint32_t size) const {
        static const std::vector<uint8_t> zeros(IMAGE_BLOCK_SIZE, 0);
        const size_t inBody = offset < body.size() ? std::min<size_t>(size, body.size() - offset) : 0;
        if (inBody > 0 && std::memcmp(bytes, body.data() + offset, inBody) != 0) return false;
        for (size_t at = inBody; at < size; at += zeros.size()) {
            const size_t n = std::min(zeros.size(), size - at);
            if (std::memcmp(bytes + at, zeros.data(), n) != 0) return false;
        }
        return true;
    }
};

ImageFile FileFrom(const uint8_t* data, size_t size) {
    ImageFile file;
    if (size == 0) return file;
    file.body.assign(data + 1, data + size);
    file.length = file.body.size();
    if (data[0] != 0) {
        file.length = IMAGE_TRANSFER_SIZE - 128 + data[0];
        if (file.body.size() > file.length) file.body.resize(file.length);
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInit();
    FuzzResetEngine();
    const ImageFile file = FileFrom(data, size);
    const std::string path = FuzzScratchDir() + "/" + IMAGE_FILE_NAME;
    FuzzCheck(FuzzWriteFile(path, file.body.data(), file.body.size(), file.length), "image written");

    SimDrive& drive = FuzzDrive();
    OsSetDevices(&FuzzDrives());
    g_hDevice = OpenDevice('D');
    FuzzCheck(g_hDevice != nullptr, "drive opens");

    // The version check, as the unattended dialog runs it.
    const uint32_t inquiryLength = CmdInquiry(INQUIRY_LENGTH) ? g_bytesTransferred : 0;
    uint8_t inquiry[INQUIRY_LENGTH];
    std::memcpy(inquiry, g_dataIn, sizeof inquiry);
    VersionRecord record;
    const int needed = ImageUpdateNeeded(inquiry, inquiryLength, path.c_str(), record);
    FuzzCheck((needed == IMAGE_UNREADABLE) == (file.length < IMAGE_HEADER_END),
              "the version check reads exactly the images that hold the whole header");

    // The update, whatever the version check said: validation must stop it.
    const SimDriveConfig& config = drive.Config();
    const bool matches = file.FieldIs(IMAGE_SIGNATURE1_OFFSET, config.signature.data(), 8) &&
                         file.FieldIs(IMAGE_SIGNATURE2_OFFSET, config.signature.data() + 8, 8) &&
                         file.FieldIs(IMAGE_DATE_OFFSET, IMAGE_BUILD_DATE, 8) &&
                         file.FieldIs(IMAGE_ID_OFFSET, DRIVE_ID_TEXT, DRIVE_ID_LENGTH);
    FuzzHost host;
    FuzzCheck(SetImagePath(path.c_str()), "image path fits");
    SetCheckedImage(record.imageVersion, record.imageDate);
    const size_t updateStart = drive.Transcript().size();
    const int ok = RunUpdate(host);

    const std::vector<SimCommandRecord> transcript = drive.Transcript();
    for (size_t i = updateStart; i < transcript.size(); ++i) {
        const SimCommandRecord& r = transcript[i];
        if (r.Opcode() != WRITE_BUFFER_CMD) continue;
        FuzzCheck(matches && file.length >= IMAGE_TRANSFER_SIZE,
                  "no WRITE BUFFER unless the image belongs to the drive and holds the whole transfer");
        if (r.cdb[2] != BUFFER_FIRMWARE) continue;
        const uint32_t offset = r.BufferOffset(), length = r.BufferLength();
        FuzzCheck(uint64_t(offset) + length <= file.length, "a firmware block lies inside the file");
        FuzzCheck(r.status == SIM_STATUS_GOOD && r.transferred == length, "the drive took the whole block");
        const std::vector<uint8_t> area = drive.FirmwareArea(offset, length);
        FuzzCheck(area.size() == length && file.Holds(area.data(), offset, length),
                  "a firmware block carries the file's bytes at its offset");
    }
    FuzzCheck((ok == 1) == (matches && file.length >= IMAGE_TRANSFER_SIZE),
              "the update succeeds exactly for a matching, complete image");
    if (ok == 1) FuzzCheck(drive.ImagesApplied() == 1, "a successful update applied the image");

    CloseDevice(g_hDevice);
    OsSetDevices(nullptr);
    return 0;
}
