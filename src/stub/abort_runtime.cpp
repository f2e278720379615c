// Small replacements for the C++ run-time's error paths, linked into the
// Windows stub programs only.
//
// The stubs are built without exceptions, but the library's containers and
// strings still call its throwing helpers (std::__throw_length_error and
// friends) on impossible sizes, and its operator new throws std::bad_alloc.
// The library's own versions drag in the whole exception machinery, the
// unwinder and the demangler of the verbose terminate handler: about 130 KB
// of a stub that must stay under 180 KB. These versions end the program
// instead, which is what an exception nobody catches would do anyway.
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void Fail() { std::abort(); }

}  // namespace

namespace std {

void __throw_bad_alloc() { Fail(); }
void __throw_bad_array_new_length() { Fail(); }
void __throw_bad_cast() { Fail(); }
void __throw_bad_typeid() { Fail(); }
void __throw_bad_exception() { Fail(); }
void __throw_bad_function_call() { Fail(); }
void __throw_logic_error(const char*) { Fail(); }
void __throw_domain_error(const char*) { Fail(); }
void __throw_invalid_argument(const char*) { Fail(); }
void __throw_length_error(const char*) { Fail(); }
void __throw_out_of_range(const char*) { Fail(); }
void __throw_out_of_range_fmt(const char*, ...) { Fail(); }
void __throw_runtime_error(const char*) { Fail(); }
void __throw_range_error(const char*) { Fail(); }
void __throw_overflow_error(const char*) { Fail(); }
void __throw_underflow_error(const char*) { Fail(); }
void __throw_system_error(int) { Fail(); }

}  // namespace std

namespace __gnu_cxx {

// The default terminate handler prints the type of the exception, which
// needs the demangler. Nothing is thrown in a stub, so there is nothing to
// print.
void __verbose_terminate_handler() { Fail(); }

}  // namespace __gnu_cxx

// operator new without std::bad_alloc: a failed allocation ends the
// program (the stubs' engine sizes every buffer against the archive first,
// so this only happens when the machine is truly out of memory).
void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) Fail();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// Formatting without the C library's own printf engine. With C++ the
// compiler's run-time routes vsnprintf to a complete printf written for
// C99 conformance (with floating-point conversion, about 24 KB); the stubs
// format only integers and strings, which the system's C library (msvcrt)
// does itself. This keeps the C99 result: the length the whole text needs,
// also when the buffer is too small.
#include <cstdarg>
#include <cstdio>

extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t count, const char* format,
                                         va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = _vscprintf(format, copy);
  va_end(copy);
  if (buffer != nullptr && count > 0) {
    const int written = _vsnprintf(buffer, count, format, args);
    // The system's version leaves the terminating zero out when the text
    // fills the buffer, and reports a cut text as -1.
    if (written < 0 || static_cast<size_t>(written) >= count) buffer[count - 1] = '\0';
  }
  return needed;
}
