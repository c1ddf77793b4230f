#include "uExceptText.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

static std::string Demangle(const char* raw) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(raw, nullptr, nullptr, &status),
                                                   std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(raw);
}

std::string ExceptionClassName(const std::exception& e) {
  return Demangle(typeid(e).name());
}

std::string CurrentExceptionClassName() {
  const std::type_info* t = abi::__cxa_current_exception_type();
  return t ? Demangle(t->name()) : std::string("unknown");
}

std::string ExceptionText(const std::exception& e) {
  return ExceptionClassName(e) + ": " + e.what();
}
