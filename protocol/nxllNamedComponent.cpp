#include "protocol/nxllNamedComponent.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace vantera {

std::string nxTypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  // Class names are shown unqualified, as the classes are named in the code.
  if (name.find('<') == std::string::npos) {
    size_t colons = name.rfind("::");
    if (colons != std::string::npos)
      name.erase(0, colons + 2);
  }
  return name;
}

std::string TnxComponent::DisplayName() const {
  if (!name_.empty())
    return name_;
  return "<unnamed " + ClassName() + " instance>";
}

void TnxComponent::LogLine(const std::string& line) const {
  if (event_log_ != nullptr)
    event_log_->WriteLine(line);
}

std::string nxComponentName(const TnxComponent* component) {
  return component != nullptr ? component->DisplayName() : "<nil pointer>";
}

}  // namespace vantera
