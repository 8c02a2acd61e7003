// The exceptions of the database client and the conversion of any exception into a code.
//
// Message forms (CODE is upper-case hexadecimal without leading zeros, DEC decimal):
//   base error with a code           "KantaDB: TEXT [$CODE/DEC]"
//   base error without a code        "KantaDB: TEXT"
//   database error, no component     "TEXT [$CODE/DEC]"
//   component error with a code      "KantaDB: NAME: TEXT [$CODE/DEC]"
//   component error without a code   "KantaDB: NAME: TEXT [no error code]"
//   operating-system error           "Operating system error while WHAT: SYSTEXT ($CODE/DEC)",
//                                    "Operating system error: SYSTEXT ($CODE/DEC)",
//                                    "A call to an OS function failed while WHAT",
//                                    "A call to an OS function failed."
// NAME is the component's name, "<unnamed CLASS instance>" or "<nil pointer>".
// BareText() is TEXT alone: what the start-up error box shows after its own words.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "protocol/nxllErrors.h"
#include "protocol/nxllNamedComponent.h"

namespace vantera {

// "[$CODE/DEC]" without the brackets' surroundings: "$2202/8706".
std::string nxCodeTag(uint32_t code);

class EnxBaseException : public std::exception {
 public:
  // Text from the error table.
  explicit EnxBaseException(uint32_t code);
  // Own text; code 0 means none.
  explicit EnxBaseException(std::string text, uint32_t code = 0);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  const std::string& BareText() const { return bare_text_; }
  uint32_t ErrorCode() const { return error_code_; }

 protected:
  struct Formatted {};
  // For derived classes that build the full message themselves.
  EnxBaseException(Formatted, std::string message, std::string bare_text, uint32_t code);

 private:
  std::string message_;
  std::string bare_text_;
  uint32_t error_code_;
};

// An error raised by (or for) a component. The component is named in the message; the
// exception keeps the name, not the component, so it may outlive it.
class EnxComponentException : public EnxBaseException {
 public:
  EnxComponentException(const TnxComponent* component, uint32_t code);
  EnxComponentException(const TnxComponent* component, std::string text, uint32_t code = 0);

  const std::string& ComponentName() const { return component_name_; }

 protected:
  EnxComponentException(Formatted, std::string message, std::string bare_text, uint32_t code);

 private:
  std::string component_name_;
};

class EnxStateComponentException : public EnxComponentException {
 public:
  using EnxComponentException::EnxComponentException;
};

class EnxTransportException : public EnxComponentException {
 public:
  using EnxComponentException::EnxComponentException;
};

class EnxPooledTransportException : public EnxTransportException {
 public:
  using EnxTransportException::EnxTransportException;
};

class EnxSecuredTransportException : public EnxTransportException {
 public:
  using EnxTransportException::EnxTransportException;
};

class EnxRemoteServerEngineException : public EnxComponentException {
 public:
  using EnxComponentException::EnxComponentException;
};

// The database error that sessions, databases and cursors raise for a non-zero code.
class EnxDatabaseError : public EnxComponentException {
 public:
  using EnxComponentException::EnxComponentException;
  // Raised where no component is at hand (blob streams, read-only record revision):
  // "TEXT [$CODE/DEC]"; an empty `text` takes the code's text from the table.
  static EnxDatabaseError WithoutComponent(uint32_t code, std::string text = {});

 private:
  EnxDatabaseError(Formatted, std::string message, std::string bare_text, uint32_t code);
};

// A failure of a system call. Not a database-client error: converting it gives 11047.
class EnxOSError : public std::exception {
 public:
  // "Operating system error while WHAT: SYSTEXT ($CODE/DEC)", or without "while WHAT"
  // when `doing` is empty.
  static EnxOSError WithCode(uint32_t os_code, const std::string& system_text,
                             const std::string& doing = {});
  // "A call to an OS function failed while WHAT" / "A call to an OS function failed."
  static EnxOSError WithoutCode(const std::string& doing = {});
  // Any other wording a caller must use (for example a socket layer's own form).
  EnxOSError(std::string message, uint32_t os_code);

  const char* what() const noexcept override { return message_.c_str(); }
  uint32_t OSErrorCode() const { return os_code_; }

 private:
  std::string message_;
  uint32_t os_code_;
};

// A silent abort: ends an operation without an error report.
class EnxAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Raised by a dependent component to veto a state step of a component it is linked to.
class EnxAbortStateChange : public EnxAbort {
 public:
  const char* what() const noexcept override { return "State change aborted"; }
};

// The code an exception stands for: an EnxBaseException its code (15520 when 0), an
// operating-system error 11047, out of memory 9473, anything else 15521.
uint32_t nxExceptionToCode(const std::exception_ptr& error);
// The message of an exception; "Unknown exception" for one that is not a std::exception.
std::string nxExceptionMessage(const std::exception_ptr& error);
// Class name of an exception object ("EnxDatabaseError", "runtime_error").
std::string nxExceptionClassName(const std::exception_ptr& error);
// nxExceptionToCode, writing "Exception Cvt: MESSAGE" to the converter's event log first.
uint32_t nxConvertException(const std::exception_ptr& error, const TnxComponent* converter);

}  // namespace vantera
