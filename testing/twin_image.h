// Changes that an image's digest does not show, for tests of what reaches the drive
// when the file is written over in place after validation.
#pragma once
#include "engine/image.h"
#include "engine/update.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The whole transfer of the image file at `path`; empty when it is shorter.
inline std::vector<uint8_t> ReadTransfer(const std::string& path) {
    std::vector<uint8_t> bytes(IMAGE_TRANSFER_SIZE);
    FILE* f = std::fopen(path.c_str(), "rb");
    const bool whole = f && std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f) std::fclose(f);
    if (!whole) bytes.clear();
    return bytes;
}

// The digest validation takes of `bytes` (the whole transfer).
inline ImageDigest DigestOfTransfer(const std::vector<uint8_t>& bytes) {
    ImageDigest digest = IMAGE_DIGEST_START;
    for (uint32_t at = 0; at + IMAGE_BLOCK_SIZE <= bytes.size(); at += IMAGE_BLOCK_SIZE)
        DigestBytes(digest, bytes.data() + at, IMAGE_BLOCK_SIZE);
    return digest;
}

// Makes `bytes` a twin of itself: the 8-byte word at `at` (a multiple of
// IMAGE_DIGEST_GROUP) changed, and the next word of the same lane, 32 bytes on,
// worked out so that the lane, and so the digest, ends as before. 16 bytes differ.
inline void MakeDigestTwin(std::vector<uint8_t>& bytes, uint32_t at) {
    ImageDigest before = IMAGE_DIGEST_START;
    DigestBytes(before, bytes.data(), at);  // whole rounds: lane 0 takes the word at `at`
    const uint64_t lane = before.lane[0];
    // The lane's step, as the digest takes a word.
    auto step = [](uint64_t state, uint64_t word) {
        state = (state ^ word) * 0x9e3779b97f4a7c15ull;
        return state ^ (state >> 32);
    };
    uint64_t first, next;
    std::memcpy(&first, &bytes[at], 8);
    std::memcpy(&next, &bytes[at + IMAGE_DIGEST_GROUP], 8);
    const uint64_t changed = first ^ 0x5A5AA5A5C3C33C3Cull;
    const uint64_t partner = step(lane, first) ^ next ^ step(lane, changed);
    std::memcpy(&bytes[at], &changed, 8);
    std::memcpy(&bytes[at + IMAGE_DIGEST_GROUP], &partner, 8);
}

// Writes `length` bytes of `bytes` from `at` over the file at `path`, in place.
inline bool WriteInPlace(const std::string& path, const std::vector<uint8_t>& bytes, uint32_t at, uint32_t length) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f) return false;
    const bool ok = std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 &&
                    std::fwrite(bytes.data() + at, 1, length, f) == length;
    return std::fclose(f) == 0 && ok;
}
