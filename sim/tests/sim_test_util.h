// Issuing commands to an emulated drive in tests.
#pragma once
#include "sim/drive.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <vector>

struct SimReply {
    int status = 0;
    std::vector<uint8_t> data;          // the bytes transferred in
    std::array<uint8_t, 32> sense{};    // the caller's sense area (guard bytes AAh)
    int senseWritten = 0;
    SimSense Sense() const { return {sense[2], sense[12], sense[13]}; }
};

inline std::array<uint8_t, 12> Cdb(std::initializer_list<uint8_t> bytes) {
    std::array<uint8_t, 12> cdb{};
    std::copy(bytes.begin(), bytes.end(), cdb.begin());
    return cdb;
}

inline SimReply Send(SimDrive& drive, const std::array<uint8_t, 12>& cdb, int cdbLen, int direction,
                     uint32_t length, const std::vector<uint8_t>& out = {}, int senseLen = 18) {
    SimReply r;
    r.sense.fill(0xAA);
    std::vector<uint8_t> buffer(std::max<size_t>(length, out.size()) + 1, 0xEE);
    std::copy(out.begin(), out.end(), buffer.begin());
    const SimResult result =
        drive.Run(cdb.data(), cdbLen, direction, buffer.data(), length, r.sense.data(), senseLen);
    r.status = result.status;
    r.senseWritten = result.senseWritten;
    if (direction == SIM_DIR_IN) r.data.assign(buffer.begin(), buffer.begin() + result.transferred);
    return r;
}

inline std::array<uint8_t, 12> WriteBufferCdb(uint8_t id, uint32_t offset, uint32_t length) {
    return Cdb({0x3B, 0x05, id, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset),
                uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)});
}

inline std::vector<uint8_t> SwitchBlock() {
    std::vector<uint8_t> block(SIM_SWITCH_BLOCK_SIZE, 0);
    std::memcpy(block.data(), SIM_SWITCH_MODEL_TEXT, 16);
    block[16] = 0x93;
    block[17] = 0x7C;
    block[18] = 0x1A;
    block[19] = 0x5E;
    return block;
}

inline SimReply SendSwitch(SimDrive& drive, const std::vector<uint8_t>& block = SwitchBlock()) {
    return Send(drive, WriteBufferCdb(0xFF, 0, SIM_SWITCH_BLOCK_SIZE), 12, SIM_DIR_OUT, SIM_SWITCH_BLOCK_SIZE, block);
}

// Blocks [first, last) of 32 KiB of `image` to buffer F0h, as the updater sends them.
inline bool SendBlocks(SimDrive& drive, const std::vector<uint8_t>& image, int first, int last) {
    for (int n = first; n < last; ++n) {
        const uint32_t offset = uint32_t(n) * 0x8000;
        std::vector<uint8_t> block(image.begin() + offset, image.begin() + offset + 0x8000);
        if (Send(drive, WriteBufferCdb(0xF0, offset, 0x8000), 12, SIM_DIR_OUT, 0x8000, block).status != 0)
            return false;
    }
    return true;
}

inline SimReply ReadIdBlock(SimDrive& drive) {
    return Send(drive, Cdb({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 48}), 12, SIM_DIR_IN, 48);
}

inline SimReply Inquiry(SimDrive& drive, uint8_t allocation = 254) {
    return Send(drive, Cdb({0x12, 0, 0, 0, allocation, 0}), 6, SIM_DIR_IN, allocation);
}
