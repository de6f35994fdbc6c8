// The image digest: a change confined to one 8-byte word always shows, wherever
// it lies, and the result is fixed by the data alone.
#include "engine/image.h"
#include "engine/update.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x12345678u;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

ImageDigest DigestOf(const std::vector<uint8_t>& bytes) {
    ImageDigest digest = IMAGE_DIGEST_START;
    DigestBytes(digest, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return digest;
}

// As the update takes it: a block at a time, each call continuing the last.
ImageDigest DigestByBlocks(const std::vector<uint8_t>& bytes) {
    ImageDigest digest = IMAGE_DIGEST_START;
    for (size_t at = 0; at < bytes.size(); at += IMAGE_BLOCK_SIZE)
        DigestBytes(digest, bytes.data() + at, IMAGE_BLOCK_SIZE);
    return digest;
}

// Every byte of small buffers (whole rounds, a tail of whole words, a tail ending
// in a part word), changed in the ways that could cancel out in one lane: the
// lowest bit, the highest bit, all bits.
TEST(ImageDigest, EveryChangeWithinOneWordShows) {
    for (size_t size : {size_t(8), size_t(256), size_t(256 + 24), size_t(256 + 19)}) {
        const std::vector<uint8_t> original = Pattern(size);
        const ImageDigest before = DigestOf(original);
        for (size_t at = 0; at < size; ++at) {
            for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
                std::vector<uint8_t> changed = original;
                changed[at] ^= flip;
                EXPECT_NE(DigestOf(changed), before) << "size " << size << ", byte " << at << ", xor " << int(flip);
            }
        }
    }
}

// The whole transfer, digested block by block: the first and last bytes, each
// lane on either side of a block boundary, and the first and last word of the
// last block.
TEST(ImageDigest, ChangesAcrossTheWholeTransferShow) {
    std::vector<uint8_t> image = Pattern(IMAGE_TRANSFER_SIZE);
    const ImageDigest before = DigestByBlocks(image);
    std::vector<uint32_t> positions = {0, 7, 8, IMAGE_TRANSFER_SIZE - 8, IMAGE_TRANSFER_SIZE - 1};
    for (uint32_t boundary : {IMAGE_BLOCK_SIZE, 31 * IMAGE_BLOCK_SIZE, IMAGE_TRANSFER_SIZE - IMAGE_BLOCK_SIZE}) {
        for (uint32_t word = 0; word < 8; ++word) positions.push_back(boundary - 32 + 8 * word + 3);
    }
    for (uint32_t at : positions) {
        image[at] ^= 0x40;
        EXPECT_NE(DigestByBlocks(image), before) << "byte " << at;
        image[at] ^= 0x40;
    }
    EXPECT_EQ(DigestByBlocks(image), before);
}

// Words that trade places, within a lane or across lanes, are a change too.
TEST(ImageDigest, WordsInAnotherOrderShow) {
    const std::vector<uint8_t> original = Pattern(256);
    const ImageDigest before = DigestOf(original);
    for (size_t other : {size_t(8), size_t(32), size_t(40)}) {
        std::vector<uint8_t> swapped = original;
        for (size_t i = 0; i < 8; ++i) std::swap(swapped[i], swapped[other + i]);
        EXPECT_NE(DigestOf(swapped), before) << "word 0 and byte " << other;
    }
}

// Integer steps only: every build (the i686 one included) and every run must
// reach these values, which a separate model of the steps (words read
// little-endian, the tail's part word padded with zeros) gave.
TEST(ImageDigest, IsFixedByTheDataAlone) {
    const ImageDigest digest = DigestOf(Pattern(1000));
    const ImageDigest expected = {
        {0x42c742eb8ca7c63dull, 0x2631dc5d79ef9f55ull, 0x1410ca1eb32e1cc8ull, 0x38a6e0435014b913ull}};
    for (int k = 0; k < IMAGE_DIGEST_LANES; ++k)
        EXPECT_EQ(digest.lane[k], expected.lane[k]) << "lane " << k << std::hex << ": 0x" << digest.lane[k];
}

}  // namespace
