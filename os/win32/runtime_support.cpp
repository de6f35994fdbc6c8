// The C++ runtime pieces QUILLMOR.EXE takes from here instead of libstdc++.
//
// The program is built without exceptions and RTTI: failures are return values.
// Linked as they are, the library's operator new, the containers' length and
// range checks and the pure-virtual trap would still throw or call the default
// terminate handler, and that drags in the exception classes, the unwinder and a
// demangler: most of the file. Here each of them ends the process at once with
// exit code 1, the code an unattended run gives for every end that is not an
// update. Nothing runs on after such a failure: no handler, no further command
// to the drive.
//
// The printf family: the program's few snprintf calls format integers and
// strings into fixed buffers, and msvcrt's _vsnprintf (Windows 95 onwards) does
// that; mingw's own C99 printf and its float formatting stay out of the file.
// Formats are kept to what both understand: %d %u %x %c %s with width and flags,
// no size modifiers beyond l.
#include "os/win32/win32_api.h"

#include <bits/functexcept.h>  // the declarations of the __throw_* helpers
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

[[noreturn]] void EndOnRuntimeFailure() {
    // TerminateProcess stops every thread where it stands, a worker in the middle
    // of a transfer included; ExitProcess only if it ever came back.
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

}  // namespace

// Allocation: a null from malloc ends the process (there is no new-handler).
void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    EndOnRuntimeFailure();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// What the library's headers call where they would throw. All of them, so that
// no call can pull in the library's throwing versions.
namespace std {
void __throw_bad_exception() { EndOnRuntimeFailure(); }
void __throw_bad_alloc() { EndOnRuntimeFailure(); }
void __throw_bad_array_new_length() { EndOnRuntimeFailure(); }
void __throw_bad_cast() { EndOnRuntimeFailure(); }
void __throw_bad_typeid() { EndOnRuntimeFailure(); }
void __throw_logic_error(const char*) { EndOnRuntimeFailure(); }
void __throw_domain_error(const char*) { EndOnRuntimeFailure(); }
void __throw_invalid_argument(const char*) { EndOnRuntimeFailure(); }
void __throw_length_error(const char*) { EndOnRuntimeFailure(); }
void __throw_out_of_range(const char*) { EndOnRuntimeFailure(); }
void __throw_out_of_range_fmt(const char*, ...) { EndOnRuntimeFailure(); }
void __throw_runtime_error(const char*) { EndOnRuntimeFailure(); }
void __throw_range_error(const char*) { EndOnRuntimeFailure(); }
void __throw_overflow_error(const char*) { EndOnRuntimeFailure(); }
void __throw_underflow_error(const char*) { EndOnRuntimeFailure(); }
}  // namespace std

// The terminate handler the runtime starts with: the same end, without the
// library's message and demangler.
namespace __gnu_cxx {
void __verbose_terminate_handler() { EndOnRuntimeFailure(); }
}  // namespace __gnu_cxx

// A call through a destroyed or half-built object's pure or deleted virtual.
extern "C" void __cxa_pure_virtual() { EndOnRuntimeFailure(); }
extern "C" void __cxa_deleted_virtual() { EndOnRuntimeFailure(); }

// std::string, compiled here without exceptions: the library's own copy of
// these members was built with them and would bring the unwinder along. This
// definition comes first in the link, so the library's is never pulled in.
template class std::__cxx11::basic_string<char>;

// snprintf and vsnprintf: the library's headers route them to mingw's own
// printf; here they go to msvcrt's _vsnprintf. That leaves a full buffer
// unterminated and returns -1 when the text does not fit; the result here is
// always terminated, and a text that did not fit gives `size`, which callers
// read as truncated (result >= size).
extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    if (size == 0) return 0;
    const int written = _vsnprintf(buffer, size, format, args);
    if (written >= 0 && static_cast<size_t>(written) < size) return written;
    buffer[size - 1] = '\0';
    return static_cast<int>(size);
}

extern "C" int __cdecl __mingw_snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = __mingw_vsnprintf(buffer, size, format, args);
    va_end(args);
    return written;
}
