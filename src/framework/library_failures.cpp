// The failures libstdc++ raises from inside its strings and containers (a length past max_size,
// a position past the end, a null pointer for a string), compiled into every shipped module in
// place of the library's own. Nothing in our modules catches these: the exception would reach
// std::terminate, whose handler (terminate_handler.cpp) prints its type and what() and aborts.
// These end the run the same way and print the same two lines, without throwing: the library's
// versions construct its exception classes, whose messages live in the old copy-on-write string,
// and would bring that second string implementation into each module (some 45 KiB on i686).
//
// libstdc++ declares these in <bits/functexcept.h>; a definition here is found before the
// library's archive is searched, so its functexcept.o is never linked.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <typeinfo>

namespace {

// `type` is the mangled name the terminate handler would print (what type_info::name() gives).
[[noreturn]] void EndAsUncaught(const char* type, const char* what) {
  std::fputs("terminate called after throwing an instance of '", stderr);
  std::fputs(type, stderr);
  std::fputs("'\n  what():  ", stderr);
  std::fputs(what, stderr);
  std::fputs("\n", stderr);
  std::abort();
}

// The library's messages with positions use %s, %zu and %% only ("%s: __pos (which is %zu) >
// this->size() (which is %zu)"); anything else is copied as it stands. Cut at the buffer's end.
void FormatLibraryMessage(char* out, size_t size, const char* format, va_list args) {
  size_t used = 0;
  auto put = [&](const char* text, size_t length) {
    const size_t room = size - 1 - used;
    if (length > room) length = room;
    std::memcpy(out + used, text, length);
    used += length;
  };
  for (const char* p = format; *p != '\0' && used + 1 < size; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      const char* text = va_arg(args, const char*);
      if (text == nullptr) text = "(null)";
      put(text, std::strlen(text));
      ++p;
    } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
      char digits[24];
      char* d = digits + sizeof digits;
      size_t value = va_arg(args, size_t);
      do {
        *--d = static_cast<char>('0' + value % 10);
        value /= 10;
      } while (value != 0);
      put(d, static_cast<size_t>(digits + sizeof digits - d));
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      put("%", 1);
      ++p;
    } else {
      put(p, 1);
    }
  }
  out[used] = '\0';
}

}  // namespace

namespace std {

void __throw_bad_exception() { EndAsUncaught("St13bad_exception", "std::bad_exception"); }
void __throw_bad_alloc() { EndAsUncaught("St9bad_alloc", "std::bad_alloc"); }
void __throw_bad_array_new_length() { EndAsUncaught("St20bad_array_new_length", "std::bad_array_new_length"); }
void __throw_bad_cast() { EndAsUncaught("St8bad_cast", "std::bad_cast"); }
void __throw_bad_typeid() { EndAsUncaught("St10bad_typeid", "std::bad_typeid"); }
void __throw_logic_error(const char* what) { EndAsUncaught("St11logic_error", what); }
void __throw_domain_error(const char* what) { EndAsUncaught("St12domain_error", what); }
void __throw_invalid_argument(const char* what) { EndAsUncaught("St16invalid_argument", what); }
void __throw_length_error(const char* what) { EndAsUncaught("St12length_error", what); }
void __throw_out_of_range(const char* what) { EndAsUncaught("St12out_of_range", what); }
void __throw_runtime_error(const char* what) { EndAsUncaught("St13runtime_error", what); }
void __throw_range_error(const char* what) { EndAsUncaught("St11range_error", what); }
void __throw_overflow_error(const char* what) { EndAsUncaught("St14overflow_error", what); }
void __throw_underflow_error(const char* what) { EndAsUncaught("St15underflow_error", what); }

void __throw_out_of_range_fmt(const char* format, ...) {
  char what[512];
  va_list args;
  va_start(args, format);
  FormatLibraryMessage(what, sizeof what, format, args);
  va_end(args);
  EndAsUncaught("St12out_of_range", what);
}

}  // namespace std
