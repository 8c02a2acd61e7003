// Socket errors of the message-server client: Winsock codes, their texts, and the exception.
//
// The client reports errors with the Winsock codes and descriptions the workstation has
// always shown (10061 "Connection refused"...). POSIX errno values and resolver failures are
// mapped onto those codes here, in one place.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vantera {

// The Winsock code for a POSIX errno value. EAGAIN maps to 10035, EPIPE to 10053 (the peer
// is gone); a value without a Winsock counterpart is returned unchanged (below 10000, so its
// description reads "Not a WinSock error").
uint16_t WSocketCodeFromErrno(int err);

// The Winsock code for a getaddrinfo() failure (EAI_*): 11001 to 11004.
uint16_t WinsockCodeFromResolver(int eai_error);

// The description of a Winsock code, e.g. 10057 "Socket is not connected"; 0 is "No Error";
// unknown codes give "Not a WinSock error".
std::string WSocketErrorDesc(uint32_t code);

// The error of the socket component. Socket call failures carry the code, the function
// name and the description; validation and resolution errors carry only their own text.
class ESocketException : public std::runtime_error {
 public:
  explicit ESocketException(const std::string& message, uint16_t code = 0)
      : std::runtime_error(message), code_(code) {}
  // "Error " + code + " in function " + function + CR LF + description.
  static ESocketException FromCall(uint16_t code, const std::string& function);

  uint16_t code() const { return code_; }
  static const char* ClassName() { return "ESocketException"; }

 private:
  uint16_t code_;
};

}  // namespace vantera
