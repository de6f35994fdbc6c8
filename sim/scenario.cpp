#include "sim/scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A whole-string number, decimal or 0x-hexadecimal, at most `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *value = v;
    return true;
}

bool ParseHexByte(const std::string& text, uint8_t* value) {
    if (text.size() != 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0) return false;
    *value = uint8_t(HexDigit(text[0]) * 16 + HexDigit(text[1]));
    return true;
}

// The value part of a line: a bare word (comment after '#' dropped, trimmed) or a
// double-quoted string with \\, \", \0 and \xHH escapes that keeps its blanks.
bool ParseValue(const std::string& raw, std::string* value, std::string* why) {
    const std::string text = Trim(raw);
    if (text.empty() || text[0] != '"') {
        const size_t hash = text.find('#');
        *value = Trim(text.substr(0, hash));
        if (value->empty()) {
            *why = "missing value";
            return false;
        }
        return true;
    }
    value->clear();
    size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            value->push_back(text[i]);
            continue;
        }
        if (++i >= text.size()) break;
        switch (text[i]) {
        case '\\': value->push_back('\\'); break;
        case '"': value->push_back('"'); break;
        case '0': value->push_back('\0'); break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                *why = "bad \\x escape";
                return false;
            }
            value->push_back(char(hi * 16 + lo));
            i += 2;
            break;
        }
        default: *why = std::string("unknown escape \\") + text[i]; return false;
        }
    }
    if (i >= text.size()) {
        *why = "unterminated quoted value";
        return false;
    }
    const std::string rest = Trim(text.substr(i + 1));
    if (!rest.empty() && rest[0] != '#') {
        *why = "text after the quoted value";
        return false;
    }
    return true;
}

bool ParseSense(const std::string& text, SimSense* sense) {
    if (text.size() != 8 || text[2] != '/' || text[5] != '/') return false;
    return ParseHexByte(text.substr(0, 2), &sense->key) && ParseHexByte(text.substr(3, 2), &sense->asc) &&
           ParseHexByte(text.substr(6, 2), &sense->ascq);
}

bool ParseFault(const std::string& text, SimFault* fault, std::string* why) {
    std::istringstream words(text);
    std::string word;
    bool action = false;
    while (words >> word) {
        if (word[0] == '#') break;
        const size_t eq = word.find('=');
        const std::string name = word.substr(0, eq);
        const std::string arg = eq == std::string::npos ? "" : word.substr(eq + 1);
        const bool hasArg = eq != std::string::npos;
        uint64_t n = 0;
        auto number = [&](uint64_t max) {
            if (!hasArg || !ParseNumber(arg, max, &n)) {
                *why = "bad number in '" + word + "'";
                return false;
            }
            return true;
        };
        if (name == "nth") {
            if (!number(0xFFFFFFFFu)) return false;
            if (n == 0) {
                *why = "nth counts from 1";
                return false;
            }
            fault->nth = uint32_t(n);
        } else if (name == "opcode") {
            if (!number(0xFF)) return false;
            fault->opcode = int(n);
        } else if (name == "buffer") {
            if (!number(0xFF)) return false;
            fault->bufferId = int(n);
        } else if (name == "offset") {
            if (!number(0xFFFFFF)) return false;
            fault->offset = int64_t(n);
        } else if (name == "skip") {
            if (!number(0x7FFFFFFF)) return false;
            fault->skip = int(n);
        } else if (name == "applied" && !hasArg) {
            fault->applied = true;
        } else if (name == "times") {
            if (!number(0x7FFFFFFF)) return false;
            fault->times = int(n);
        } else if (name == "sense") {
            if (!hasArg || !ParseSense(arg, &fault->sense)) {
                *why = "sense must read KK/AA/QQ in hexadecimal";
                return false;
            }
            fault->refuse = action = true;
        } else if (name == "delay") {
            if (!number(0xFFFFFFFFu)) return false;
            fault->delayMs = uint32_t(n);
            action = true;
        } else if (name == "short") {
            if (!number(0xFFFFFFFFu)) return false;
            fault->shortTo = int64_t(n);
            action = true;
        } else if (name == "resid") {
            if (arg == "zero") {
                fault->residual = SimResidual::Zero;
            } else if (arg == "negative") {
                fault->residual = SimResidual::Negative;
            } else if (arg == "over") {
                fault->residual = SimResidual::Over;
            } else {
                *why = "resid is zero, negative or over";
                return false;
            }
            action = true;
        } else if (name == "no-answer" && !hasArg) {
            fault->noAnswer = action = true;
        } else if (name == "vanish" && !hasArg) {
            fault->vanish = action = true;
        } else {
            *why = "unknown fault word '" + word + "'";
            return false;
        }
    }
    if (!action) {
        *why = "a fault needs an action: sense=, delay=, short=, resid=, no-answer or vanish";
        return false;
    }
    return true;
}

bool ExactText(const std::string& value, size_t size, std::string* to, std::string* why) {
    if (value.size() != size) {
        *why = "must be exactly " + std::to_string(size) + " bytes (quote it to keep blanks)";
        return false;
    }
    *to = value;
    return true;
}

template <typename T>
bool Choice(const std::string& value, std::initializer_list<std::pair<const char*, T>> choices, T* to,
            std::string* why) {
    std::string names;
    for (const auto& c : choices) {
        if (value == c.first) {
            *to = c.second;
            return true;
        }
        names += names.empty() ? "" : ", ";
        names += c.first;
    }
    *why = "must be one of: " + names;
    return false;
}

bool ApplyKey(const std::string& key, const std::string& value, SimDriveConfig* d, std::string* why) {
    uint64_t n = 0;
    if (key == "identification") return ExactText(value, 24, &d->identification, why);
    if (key == "revision") return ExactText(value, 4, &d->revision, why);
    if (key == "date") return ExactText(value, 8, &d->date, why);
    if (key == "signature") return ExactText(value, 16, &d->signature, why);
    if (key == "id_block") {
        if (value.size() == 2 * SIM_ID_BLOCK_SIZE) {  // hexadecimal
            std::string bytes;
            for (size_t i = 0; i < value.size(); i += 2) {
                uint8_t b;
                if (!ParseHexByte(value.substr(i, 2), &b)) {
                    *why = "id_block: 96 hexadecimal digits or 48 quoted bytes";
                    return false;
                }
                bytes.push_back(char(b));
            }
            d->idBlock = bytes;
            return true;
        }
        return ExactText(value, SIM_ID_BLOCK_SIZE, &d->idBlock, why);
    }
    if (key == "state") {
        if (value == "blank") {
            d->state = SIM_STATE_BLANK;
            return true;
        }
        if (!ParseNumber(value, 0xFF, &n)) {
            *why = "state: 'blank' or a byte value";
            return false;
        }
        d->state = uint8_t(n);
        return true;
    }
    if (key == "disc") return Choice(value, {{"present", true}, {"none", false}}, &d->discLoaded, why);
    if (key == "tray") return Choice(value, {{"open", true}, {"closed", false}}, &d->trayOpen, why);
    if (key == "eject_without_disc")
        return Choice(value, {{"refuse", true}, {"accept", false}}, &d->ejectWithoutDiscFails, why);
    if (key == "gesn_polled")
        return Choice(value, {{"required", true}, {"optional", false}}, &d->gesnRequiresPolled, why);
    if (key == "after_switch")
        return Choice(value,
                      {{"keep", SimAfterSwitch::Keep}, {"blank", SimAfterSwitch::Blank},
                       {"silent", SimAfterSwitch::Silent}},
                      &d->afterSwitch, why);
    if (key == "ready_after") {
        if (!ParseNumber(value, 0xFFFFFFFFu, &n)) {
            *why = "ready_after: a number of commands";
            return false;
        }
        d->readyAfter = uint32_t(n);
        return true;
    }
    if (key == "fault") {
        SimFault fault;
        if (!ParseFault(value, &fault, why)) return false;
        d->faults.push_back(fault);
        return true;
    }
    *why = "unknown key '" + key + "'";
    return false;
}
}  // namespace

bool SimParseScenario(const std::string& text, std::vector<SimDriveConfig>* drives, std::string* error) {
    std::vector<SimDriveConfig> parsed;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const size_t eq = trimmed.find('=');
        if (eq == std::string::npos) return fail("expected 'key = value'");
        const std::string key = Trim(trimmed.substr(0, eq));
        std::string value, why;
        // Fault words carry their own '=': take the rest of the line as it is.
        if (key == "fault") {
            value = Trim(trimmed.substr(eq + 1));
        } else if (!ParseValue(trimmed.substr(eq + 1), &value, &why)) {
            return fail(key + ": " + why);
        }
        if (key == "drive") {
            if (value.size() != 1 || std::toupper(static_cast<unsigned char>(value[0])) < 'C' ||
                std::toupper(static_cast<unsigned char>(value[0])) > 'Z')
                return fail("drive: a drive letter C..Z");
            const char letter = char(std::toupper(static_cast<unsigned char>(value[0])));
            for (const auto& d : parsed)
                if (d.letter == letter) return fail(std::string("drive ") + letter + " given twice");
            parsed.emplace_back();
            parsed.back().letter = letter;
            continue;
        }
        if (parsed.empty()) parsed.emplace_back();  // keys before any drive line: drive D
        if (!ApplyKey(key, value, &parsed.back(), &why)) return fail(why);
    }
    if (parsed.empty()) parsed.emplace_back();
    *drives = parsed;
    return true;
}

bool SimLoadScenario(const std::string& path, std::vector<SimDriveConfig>* drives, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read scenario " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!SimParseScenario(text.str(), drives, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}
