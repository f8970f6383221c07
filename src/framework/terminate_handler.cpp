// The handler std::terminate calls, compiled into every shipped module in place of
// libstdc++'s verbose one. It says the same ("terminate called after throwing an instance of
// '<type>'", then what()) and aborts the same way, but names the type in its mangled form: the
// verbose handler's demangler (and the printf machinery behind it) would be the largest single
// piece of libstdc++ in each module.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include <cxxabi.h>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  static bool terminating = false;
  if (terminating) {
    std::fputs("terminate called recursively\n", stderr);
    std::abort();
  }
  terminating = true;
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) {
    std::fputs("terminate called without an active exception\n", stderr);
    std::abort();
  }
  const char* name = type->name();
  std::fputs("terminate called after throwing an instance of '", stderr);
  std::fputs(name[0] == '*' ? name + 1 : name, stderr);
  std::fputs("'\n", stderr);
  try {
    throw;
  } catch (const std::exception& e) {
    std::fputs("  what():  ", stderr);
    std::fputs(e.what(), stderr);
    std::fputs("\n", stderr);
  } catch (...) {
  }
  std::abort();
}

}  // namespace __gnu_cxx
