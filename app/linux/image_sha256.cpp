#include "app/linux/image_sha256.h"

#include "engine/image.h"
#include "os/file.h"

#include <cerrno>
#include <cstdint>
#include <openssl/evp.h>
#include <vector>

namespace {

constexpr size_t kSha256Bytes = 32;

class Sha256 {
public:
    Sha256() : m_context(EVP_MD_CTX_new()) {
        m_ok = m_context != nullptr && EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) == 1;
    }
    ~Sha256() { EVP_MD_CTX_free(m_context); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Adds the bytes of `file` from its position to its end; *count += how many.
    bool AddToEnd(OsHandle file, uint64_t* count) {
        std::vector<char> chunk(64 * 1024);
        for (;;) {
            uint32_t got = 0;
            if (!OsReadFile(file, chunk.data(), static_cast<uint32_t>(chunk.size()), &got)) return false;
            m_ok = m_ok && EVP_DigestUpdate(m_context, chunk.data(), got) == 1;
            *count += got;
            if (got < chunk.size()) return m_ok;
        }
    }

    // The digest in lower-case hex; empty after any failure.
    std::string Hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!m_ok || EVP_DigestFinal_ex(m_context, digest, &length) != 1 || length != kSha256Bytes) return std::string();
        static const char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (unsigned int i = 0; i < length; ++i) {
            hex += kDigits[digest[i] >> 4];
            hex += kDigits[digest[i] & 0x0F];
        }
        return hex;
    }

private:
    EVP_MD_CTX* m_context;
    bool m_ok = false;
};

// Adds the file at `path` from byte `offset` to its end (none when it ends before).
bool AddFileFrom(Sha256& sha, const std::string& path, uint64_t offset) {
    // Opened as the update opens the image: a regular file, no FIFO that blocks.
    OsHandle file = OsOpenImageFile(path.c_str());
    if (file == nullptr) return false;
    uint64_t count = 0;
    const bool read = offset <= UINT32_MAX && OsSeekFile(file, static_cast<uint32_t>(offset)) && sha.AddToEnd(file, &count);
    const int why = errno;
    OsCloseFile(file);
    errno = why;
    return read;
}

}  // namespace

std::string FileSha256(const std::string& path) {
    Sha256 sha;
    return AddFileFrom(sha, path, 0) ? sha.Hex() : std::string();
}

std::string HeldImageSha256(const std::string& path) {
    if (g_hImage == nullptr || !OsSeekFile(g_hImage, 0)) return std::string();
    Sha256 sha;
    uint64_t held = 0;
    if (!sha.AddToEnd(g_hImage, &held) || !AddFileFrom(sha, path, held)) return std::string();
    return sha.Hex();
}

bool ParseSha256(const std::string& text, std::string* digest) {
    if (text.size() != 2 * kSha256Bytes) return false;
    std::string lower;
    for (char ch : text) {
        if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
        lower += ch;
    }
    *digest = lower;
    return true;
}
