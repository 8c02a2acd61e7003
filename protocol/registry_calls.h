// The local server registry and its call protocol, shared by the client transport and the
// server.
//
// A running server registers itself as one Unix-domain stream socket in the runtime
// folder, named by its display name "#KantaDBServer_" + server name (the file name form of
// EncodeFileName). A client connects to that socket and makes calls, one at a time per
// connection; each call is answered before the next is read. A connection that attached a
// transport holds it: when that connection closes, the server ends the transport and its
// connections (sessions), as Terminate would.
//
// Message on the socket:
//
//   offset size content
//        0    4 body length n, little-endian
//        4    n body (a call or a reply, below)
//
// Call body:   1 byte method, then the method's arguments in order
// Reply body:  4 bytes status (0 = success; else the call failed and nothing follows),
//              then the method's results in order
//
//   method                  arguments                                  results
//   1 AttachTransport       callback                                   transport
//   2 EstablishConnection   transport, user name (wide), password      error, server version,
//                           (wide), time-out, callback, client version connection
//   3 TerminateTransport    transport                                  -
//   4 Request               transport, connection, message id,         message id, data out,
//                           time-out, data in                          error
//   5 Post                  transport, connection, message id,         -
//                           time-out, data
//   6 TerminateConnection   transport, connection                      -
//
// transport: two 32-bit words (the server's transport id and key); connection, callback,
// time-out, versions, ids and errors: 32-bit words; a wide string: 32-bit count of UTF-16
// code units, then the units; data: 1 byte 0 (an empty variant) or 1 followed by a 32-bit
// count and the bytes (a byte array 0 to n - 1).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/coding.h"
#include "protocol/bounded_wait.h"

namespace vantera {

inline constexpr std::string_view kRegistryPrefix = "#KantaDBServer_";

// Status words of failed calls.
inline constexpr uint32_t kCallFailed = 0x80004005;  // the object is gone or the call failed
inline constexpr uint32_t kCallInvalidArgument = 0x80070057;  // malformed call
inline constexpr uint32_t kCallUnknownMethod = 0x80020003;    // no such method
inline constexpr uint32_t kCallServerGone = 0x800706BA;       // the server cannot be reached

// A call that failed with a status (on the server, or on the way there). Like every
// exception without a code of its own it converts to 15521.
class ERegistryCallError : public std::runtime_error {
 public:
  ERegistryCallError(uint32_t status, const std::string& what);
  uint32_t Status() const { return status_; }

 private:
  uint32_t status_;
};

enum class RegistryMethod : uint8_t {
  AttachTransport = 1,
  EstablishConnection = 2,
  TerminateTransport = 3,
  Request = 4,
  Post = 5,
  TerminateConnection = 6,
};

struct RegistryTransportRef {
  uint32_t id = 0;
  uint32_t key = 0;
  bool operator==(const RegistryTransportRef&) const = default;
};

// A call with every argument any method has; each method sends only its own.
struct RegistryCall {
  RegistryMethod method = RegistryMethod::AttachTransport;
  RegistryTransportRef transport;
  uint32_t connection = 0;
  uint32_t callback = 0;
  std::u16string userName;
  std::u16string password;
  int32_t timeout = 0;
  int32_t clientVersion = 0;
  int32_t messageId = 0;
  std::optional<Bytes> data;  // nullopt: an empty variant

  bool operator==(const RegistryCall&) const = default;
};

// A reply with every result any method has.
struct RegistryReply {
  uint32_t status = 0;
  RegistryTransportRef transport;
  int32_t error = 0;
  int32_t serverVersion = 0;
  uint32_t connection = 0;
  int32_t messageId = 0;
  std::optional<Bytes> data;

  bool operator==(const RegistryReply&) const = default;
};

// Bodies (without the 4-byte length).
Bytes EncodeRegistryCall(const RegistryCall& call);
// Throws DecodeError for a body that is short, too long, or has an unknown method.
RegistryCall DecodeRegistryCall(std::string_view body);
Bytes EncodeRegistryReply(RegistryMethod method, const RegistryReply& reply);
RegistryReply DecodeRegistryReply(RegistryMethod method, std::string_view body);

// The display name of a server, and the server name of a display name (nullopt when the
// prefix is not there exactly or nothing follows it).
std::string RegistryDisplayName(std::string_view serverName);
std::optional<std::string> ServerNameOfDisplayName(std::string_view displayName);
// Registry socket path of a server in `runtimeDir`, and the display name of a file name
// in that folder (nullopt for a file that is no registry entry).
std::string RegistryEntryPath(const std::string& runtimeDir, std::string_view serverName);
std::optional<std::string> DisplayNameOfEntry(const std::string& fileName);

// Wide strings of the calls, from and to Windows-1252 text.
std::u16string WideFromWin1252(std::string_view text);
std::string Win1252FromWide(std::u16string_view text);

// Without a deadline the reads and writes block as the socket does (the server's use).
inline constexpr WaitClock::time_point kNoRegistryDeadline = WaitClock::time_point::max();

// Sends one message (length and body); raises the socket error when writing fails, and the
// time-out (10060) when the peer takes it not all by `deadline`.
void WriteRegistryMessage(int fd, std::string_view body,
                          WaitClock::time_point deadline = kNoRegistryDeadline);
// Reads one message body of at most `maxLength` bytes; raises the socket error when the
// peer closed, reading fails, or the announced length is too large, and the time-out
// (10060) when the message is not whole by `deadline`.
Bytes ReadRegistryMessage(int fd, uint32_t maxLength,
                          WaitClock::time_point deadline = kNoRegistryDeadline);

}  // namespace vantera
