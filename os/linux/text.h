// The Linux program's own texts (the TXT_ ids of res/resource.h), in the user's
// language, with the pieces that vary filled in: {1} to {9} in a text stand for its
// first to ninth argument, wherever the language puts them.
#pragma once
#include "res/resource.h"

#include <string>
#include <vector>

// `pattern` with each {n} (n from 1 to 9) replaced by `args[n - 1]`. A placeholder
// without its argument stays as it is, for the fault to show; an argument is put
// in as it is, braces and all, and never read for placeholders.
std::string FillPlaceholders(const char* pattern, const std::vector<std::string>& args);

// The language of the texts for a caller that chose between the two.
int TextLanguage(bool japanese);

// Text `id` in `language` (in English where that language has none), filled.
std::string TextIn(int language, unsigned id, const std::vector<std::string>& args = {});

// Text `id` in the user's language (OsResourceLanguage), filled.
std::string Text(unsigned id, const std::vector<std::string>& args = {});
