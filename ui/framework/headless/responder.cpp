// Message boxes of the headless back-end, and the conversion of texts to UTF-8.
#include "ui/framework/headless/internal.h"

#include "os/platform.h"
#include "os/process.h"
#include "res/strings.h"

#include <iconv.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace headless {

namespace {

// Shows nothing and waits for nobody: prints the box and takes the safe answer.
class StderrResponder : public MessageBoxResponder {
public:
    int ShowMessageBox(WindowHandle, const std::string& text, const std::string& caption, unsigned style) override {
        std::fprintf(stderr, "[%s]\n%s\n", caption.c_str(), WithoutCarriageReturns(text).c_str());
        return SafeAnswer(style);
    }
};

StderrResponder g_stderrResponder;
std::atomic<MessageBoxResponder*> g_responder{nullptr};

// Length of the valid UTF-8 sequence at `p` (of `left` bytes), 0 when invalid.
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
    if (p[0] < 0x80) return 1;
    size_t length;
    unsigned minimum;
    unsigned code;
    if ((p[0] & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = p[0] & 0x1F;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = p[0] & 0x0F;
    } else if ((p[0] & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = p[0] & 0x07;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsUtf8(const std::string& s) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t left = s.size();
    while (left > 0) {
        size_t n = Utf8SequenceLength(p, left);
        if (n == 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

bool FromCodePage932(const std::string& in, std::string* out) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result(in.size() * 3 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &result[0];
    size_t dstLeft = result.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return false;
    result.resize(result.size() - dstLeft);
    *out = result;
    return true;
}

std::string ReplaceInvalid(const std::string& s) {
    std::string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t left = s.size();
    while (left > 0) {
        size_t n = Utf8SequenceLength(p, left);
        if (n == 0) {
            out += '?';
            n = 1;
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
        }
        p += n;
        left -= n;
    }
    return out;
}

}  // namespace

std::string ToUtf8(const char* text) {
    std::string s = text ? text : "";
    if (IsUtf8(s)) return s;
    std::string converted;
    if (OsPlatform().OemCodePage() == 932 && FromCodePage932(s, &converted)) return converted;
    return ReplaceInvalid(s);
}

std::string WithoutCarriageReturns(const std::string& text) {
    std::string plain;
    for (char ch : text)
        if (ch != '\r') plain += ch;
    return plain;
}

int SafeAnswer(unsigned style) {
    switch (style & MB_TYPEMASK) {
    case MB_YESNO:
        return IDNO;
    case MB_OKCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

void SetResponder(MessageBoxResponder* responder) { g_responder.store(responder); }

int MatchStringId(const std::string& text) {
    int best = 0;
    size_t bestLength = 0;
    int count = 0;
    const unsigned* ids = ResourceStringIds(&count);
    for (int i = 0; i < count; ++i) {
        const unsigned id = ids[i];
        const char* s = ResourceString(id, OsResourceLanguage());
        if (!s || !*s) continue;
        size_t n = std::strlen(s);
        if (n > bestLength && text.compare(0, n, s) == 0) {
            best = static_cast<int>(id);
            bestLength = n;
        }
    }
    return best;
}

void ScriptedResponder::Answer(int button) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(button);
}

void ScriptedResponder::OnShow(std::function<void(const ShownMessageBox&)> callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onShow = std::move(callback);
}

std::vector<ShownMessageBox> ScriptedResponder::Shown() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shown;
}

std::vector<int> ScriptedResponder::ShownIds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<int> ids;
    for (const auto& box : m_shown) ids.push_back(box.stringId);
    return ids;
}

int ScriptedResponder::ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                                      unsigned style) {
    ShownMessageBox box{owner, text, caption, style, std::this_thread::get_id(), MatchStringId(text), 0};
    std::function<void(const ShownMessageBox&)> onShow;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        box.answer = m_nextAnswer < m_answers.size() ? m_answers[m_nextAnswer++] : SafeAnswer(style);
        m_shown.push_back(box);
        onShow = m_onShow;
    }
    if (onShow) onShow(box);
    return box.answer;
}

namespace detail {
int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned style) {
    MessageBoxResponder* responder = g_responder.load();
    if (!responder) responder = &g_stderrResponder;
    return responder->ShowMessageBox(owner, ToUtf8(text), ToUtf8(caption ? caption : ""), style);
}
}  // namespace detail

}  // namespace headless
