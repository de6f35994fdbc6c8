#include "sim/image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// splitmix64: the same bytes on every platform for a given seed.
uint64_t NextRandom(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void PutField(std::vector<uint8_t>* image, size_t offset, const std::string& text, size_t size) {
    for (size_t i = 0; i < size; ++i) (*image)[offset + i] = i < text.size() ? uint8_t(text[i]) : 0;
}
}  // namespace

std::vector<uint8_t> SimMakeImage(const SimImageOptions& options) {
    // Build at least the whole header, then cut to the asked length.
    std::vector<uint8_t> image(std::max<uint64_t>(options.length, 320));
    uint64_t state = options.seed;
    for (size_t i = 0; i < image.size(); i += 8) {
        const uint64_t r = NextRandom(&state);
        for (size_t k = 0; k < 8 && i + k < image.size(); ++k) image[i + k] = uint8_t(r >> (8 * k));
    }
    PutField(&image, 96, options.identification, 24);
    PutField(&image, 144, options.version, 4);
    PutField(&image, 176, options.signature.substr(0, std::min<size_t>(8, options.signature.size())), 8);
    PutField(&image, 208, options.signature.size() > 8 ? options.signature.substr(8) : std::string(), 8);
    PutField(&image, 304, options.buildDate, 8);
    image.resize(options.length);
    return image;
}

bool SimWriteImage(const std::string& path, const SimImageOptions& options, std::string* error) {
    const std::vector<uint8_t> image = SimMakeImage(options);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}
