// The string table, for builds whose platform has no resource loader (Linux).
// Generated at build time from the same source as the Windows resources; it holds
// the Linux tool's texts (TXT_) too, which the Windows resources leave out.
#pragma once

constexpr int LANG_ENGLISH_US = 1033;
constexpr int LANG_JAPANESE_JP = 1041;

// UTF-8 text of string `id` in `language`, or nullptr when there is none.
const char* ResourceString(unsigned id, int language);
// The string ids (IDS_) the table holds, `*count` of them; not the texts (TXT_).
const unsigned* ResourceStringIds(int* count);
