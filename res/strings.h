// The string table, for builds whose platform has no resource loader (Linux).
// Generated at build time from the same source as the Windows resources.
#pragma once

constexpr int LANG_ENGLISH_US = 1033;
constexpr int LANG_JAPANESE_JP = 1041;

// UTF-8 text of string `id` in `language`, or nullptr when there is none.
const char* ResourceString(unsigned id, int language);
// The ids the string table holds, `*count` of them.
const unsigned* ResourceStringIds(int* count);
