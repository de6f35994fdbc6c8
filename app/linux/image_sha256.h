// The image's SHA-256, to compare with the checksum the drive maker publishes for
// the file. The image format carries no checksum of its own.
#pragma once
#include <string>

// 64 lower-case hex digits: the SHA-256 of the whole file at `path`, as the user
// has it. Empty when the file cannot be opened as an image or read (errno set).
std::string FileSha256(const std::string& path);

// The SHA-256 that an update's held image stands for, once validation holds it
// (g_hImage): the held bytes, which are the bytes sent (the first 1,966,080 of the
// file), followed by the bytes of the file at `path` past them. When it equals the
// published checksum, the bytes sent are that file's, whatever the file at `path`
// holds by now: only the tail, which is never sent, is read from it again. Empty
// when nothing is held or a read fails.
std::string HeldImageSha256(const std::string& path);

// True when `text` is a SHA-256 in hex (64 digits, either case); *digest gets it in
// lower case.
bool ParseSha256(const std::string& text, std::string* digest);
