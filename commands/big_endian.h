// SCSI puts multi-byte CDB fields most significant byte first: one place that
// lays them out and reads them back, for the builders and for whoever inspects a
// CDB that went out (the Linux tool's block counter, the fuzzers).
#pragma once
#include <cstdint>

inline void PutBig16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

inline void PutBig24(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 16);
    PutBig16(at + 1, value);
}

inline void PutBig32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    PutBig24(at + 1, value);
}

inline uint32_t GetBig24(const uint8_t* at) {
    return (uint32_t(at[0]) << 16) | (uint32_t(at[1]) << 8) | at[2];
}
