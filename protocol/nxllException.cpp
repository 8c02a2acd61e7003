#include "protocol/nxllException.h"

#include <cstdio>
#include <new>
#include <typeinfo>

namespace vantera {
namespace {

const char kProductPrefix[] = "KantaDB: ";

std::string TextFor(uint32_t code, std::string text) {
  return text.empty() ? nxErrorText(code) : text;
}

}  // namespace

std::string nxCodeTag(uint32_t code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "$%X/%u", code, code);
  return buf;
}

// ---- EnxBaseException ----

EnxBaseException::EnxBaseException(uint32_t code) : EnxBaseException(nxErrorText(code), code) {}

EnxBaseException::EnxBaseException(std::string text, uint32_t code)
    : message_(kProductPrefix + text), bare_text_(std::move(text)), error_code_(code) {
  if (code != 0)
    message_ += " [" + nxCodeTag(code) + "]";
}

EnxBaseException::EnxBaseException(Formatted, std::string message, std::string bare_text,
                                   uint32_t code)
    : message_(std::move(message)), bare_text_(std::move(bare_text)), error_code_(code) {}

// ---- EnxComponentException ----

namespace {

std::string ComponentMessage(const std::string& name, const std::string& text, uint32_t code) {
  std::string m = kProductPrefix + name + ": " + text;
  m += code != 0 ? " [" + nxCodeTag(code) + "]" : std::string(" [no error code]");
  return m;
}

}  // namespace

EnxComponentException::EnxComponentException(const TnxComponent* component, uint32_t code)
    : EnxComponentException(component, nxErrorText(code), code) {}

EnxComponentException::EnxComponentException(const TnxComponent* component, std::string text,
                                             uint32_t code)
    : EnxBaseException(Formatted{}, ComponentMessage(nxComponentName(component), text, code), text,
                       code),
      component_name_(nxComponentName(component)) {}

EnxComponentException::EnxComponentException(Formatted, std::string message, std::string bare_text,
                                             uint32_t code)
    : EnxBaseException(Formatted{}, std::move(message), std::move(bare_text), code) {}

// ---- EnxDatabaseError ----

EnxDatabaseError::EnxDatabaseError(Formatted, std::string message, std::string bare_text,
                                   uint32_t code)
    : EnxComponentException(Formatted{}, std::move(message), std::move(bare_text), code) {}

EnxDatabaseError EnxDatabaseError::WithoutComponent(uint32_t code, std::string text) {
  std::string bare = TextFor(code, std::move(text));
  std::string message = bare + " [" + nxCodeTag(code) + "]";
  return EnxDatabaseError(Formatted{}, std::move(message), std::move(bare), code);
}

// ---- EnxOSError ----

EnxOSError::EnxOSError(std::string message, uint32_t os_code)
    : message_(std::move(message)), os_code_(os_code) {}

EnxOSError EnxOSError::WithCode(uint32_t os_code, const std::string& system_text,
                                const std::string& doing) {
  std::string m = doing.empty() ? "Operating system error: " + system_text
                                : "Operating system error while " + doing + ": " + system_text;
  m += " (" + nxCodeTag(os_code) + ")";
  return EnxOSError(std::move(m), os_code);
}

EnxOSError EnxOSError::WithoutCode(const std::string& doing) {
  return EnxOSError(doing.empty() ? std::string("A call to an OS function failed.")
                                  : "A call to an OS function failed while " + doing,
                    0);
}

// ---- Conversion ----

uint32_t nxExceptionToCode(const std::exception_ptr& error) {
  if (!error)
    return nxcode::kSuccess;
  try {
    std::rethrow_exception(error);
  } catch (const EnxBaseException& e) {
    return e.ErrorCode() != 0 ? e.ErrorCode() : nxcode::kExceptionWithoutCode;
  } catch (const EnxOSError&) {
    return nxcode::kOperatingSystemError;
  } catch (const std::bad_alloc&) {
    return nxcode::kOutOfMemory;
  } catch (...) {
    return nxcode::kUnexpectedException;
  }
}

std::string nxExceptionMessage(const std::exception_ptr& error) {
  if (!error)
    return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

std::string nxExceptionClassName(const std::exception_ptr& error) {
  if (!error)
    return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return nxTypeName(typeid(e));
  } catch (...) {
    return "unknown exception";
  }
}

uint32_t nxConvertException(const std::exception_ptr& error, const TnxComponent* converter) {
  if (converter != nullptr && error)
    converter->LogLine("Exception Cvt: " + nxExceptionMessage(error));
  return nxExceptionToCode(error);
}

}  // namespace vantera
