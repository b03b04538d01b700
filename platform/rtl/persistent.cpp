#include "platform/rtl/persistent.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// The demangled name of a class without its namespaces ("jw::TStringList"
// gives "TStringList"); a "::" inside template arguments does not count.
std::string PlainClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '<') {
      ++depth;
    } else if (name[i] == '>') {
      --depth;
    } else if (depth == 0 && name[i] == ':' && i + 1 < name.size() && name[i + 1] == ':') {
      start = i + 2;
    }
  }
  return name.substr(start);
}

}  // namespace

void TPersistent::Assign(TPersistent* source) {
  if (source == nullptr) {
    throw EConvertError("Cannot assign a nil to a " + ClassName());
  }
  source->AssignTo(*this);
}

std::string TPersistent::ClassName() const {
  return PlainClassName(typeid(*this));
}

void TPersistent::DefineProperties(TFiler&) {}

void TPersistent::AssignTo(TPersistent& dest) {
  throw EConvertError("Cannot assign a " + ClassName() + " to a " + dest.ClassName());
}

}  // namespace jw
