// Synthetic firmware images "Q5518306.707": the header fields the updater reads,
// over a deterministic pseudo-random body. The real image is the drive maker's.
#pragma once
#include "sim/drive.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr char SIM_IMAGE_FILE_NAME[] = "Q5518306.707";
constexpr char SIM_IMAGE_BUILD_DATE[] = "09/08/21";

// Each text field is written byte for byte at its offset; a shorter text is
// padded with NULs, a longer one cut.
struct SimImageOptions {
    std::string version = "1.10";                              // 4 bytes at 144
    std::string buildDate = SIM_IMAGE_BUILD_DATE;              // 8 bytes at 304
    std::string identification = SIM_DEFAULT_IDENTIFICATION;   // 24 bytes at 96
    std::string signature = std::string(SIM_DEFAULT_SIGNATURE, 16);  // 8 at 176, 8 at 208
    uint64_t length = SIM_FIRMWARE_AREA_SIZE;  // file length; header fields past it are cut off
    uint64_t seed = 0x5518306707ull;           // of the body
};

std::vector<uint8_t> SimMakeImage(const SimImageOptions& options);
bool SimWriteImage(const std::string& path, const SimImageOptions& options, std::string* error);
