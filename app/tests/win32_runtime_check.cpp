// Windows console program for tests/exe/check-win32-runtime.sh, built with the
// same flags and runtime as QUILLMOR.EXE. The first argument picks one C++
// runtime failure, which must end the process with exit code 1 before the next
// statement ("survived" on stdout means it did not); or "snprintf", which
// prints what the formatting calls gave.
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <vector>

// Calls its pure virtual from the base constructor, before the derived part
// exists: through a pointer the compiler cannot see through, and outside the
// anonymous namespace (other classes may derive from Base), so the call goes
// through the vtable, as it would in a real mistake.
struct Base;
Base* volatile g_underConstruction;
struct Base {
    Base() {
        g_underConstruction = this;
        g_underConstruction->Hook();
    }
    virtual ~Base() = default;
    virtual void Hook() = 0;
};
struct Derived : Base {
    void Hook() override {}
};

namespace {

volatile size_t g_huge = ~size_t(0) / 2;  // no allocator can meet it; volatile: no folding

// One line per call: what it returned and what the buffer holds ("open" when
// no NUL ends it within its size).
void ShowSnprintf(const char* name, int result, const char* buffer, size_t size) {
    std::printf("%s %d %s\n", name, result, std::memchr(buffer, '\0', size) ? buffer : "open");
}

int Snprintf() {
    char four[4];
    std::memset(four, 'x', sizeof four);
    ShowSnprintf("cut", std::snprintf(four, sizeof four, "%s", "abcdef"), four, sizeof four);
    std::memset(four, 'x', sizeof four);
    ShowSnprintf("full", std::snprintf(four, sizeof four, "%d", 1234), four, sizeof four);
    ShowSnprintf("fits", std::snprintf(four, sizeof four, "%d", 123), four, sizeof four);
    char wide[32];
    ShowSnprintf("formats", std::snprintf(wide, sizeof wide, "%c: %02x-%d %s", 'D', 0x0a, -5, "ok"), wide, sizeof wide);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "";
    if (which == "snprintf") return Snprintf();
    if (which == "new") {
        char* p = new char[g_huge];
        std::printf("%p\n", static_cast<void*>(p));
    } else if (which == "nothrow-new") {
        // The one allocation that may fail quietly: it answers null.
        std::printf("%s\n", new (std::nothrow) char[g_huge] == nullptr ? "null" : "memory");
        return 0;
    } else if (which == "vector") {
        std::vector<int> v;
        v.reserve(g_huge);
    } else if (which == "string") {
        std::string s("abc");
        std::printf("%c\n", s.at(g_huge));
    } else if (which == "map") {
        std::map<int, int> m;
        std::printf("%d\n", m.at(1));
    } else if (which == "pure") {
        Derived d;
    } else if (which == "terminate") {
        std::terminate();
    } else {
        std::printf("usage: win32_runtime_check snprintf|new|nothrow-new|vector|string|map|pure|terminate\n");
        return 2;
    }
    std::printf("survived\n");
    return 0;
}
