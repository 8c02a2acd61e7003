// Names of the local pipe transport: server names, pipe and mailslot names, and where each
// of them lives as a Unix-domain socket under the runtime folder.
//
//   pipe of server S on machine M   \\M\pipe\KantaDB\1.0\P\S
//   server discovery mailslot       \\.\mailslot\KantaDB\1.0\P\Server
//   discovery query target          \\*\mailslot\KantaDB\1.0\P\Server
//   client reply mailslot           \\<computer>\mailslot\KantaDB\1.0\P\Client\<pid>_<n>
//
// P is the transport's Port in decimal. Pipe names do not depend on letter case, so the
// socket of a pipe is named after the upper case of S. The discovery query goes to every
// server's discovery socket of instance P in the runtime folder (the whole machine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantera {

// Largest discovery datagram (query or answer), in bytes.
inline constexpr size_t kMailslotMessageMax = 420;

struct PipeServerName {
  std::string server;   // S, trimmed
  std::string machine;  // M, trimmed; "." for this computer
};

// The host name of this computer, without a domain part.
std::string LocalComputerName();

// Splits S "@" M (at the first "@"), trims blanks around both parts; an empty or missing
// M, or one equal to `computerName` without regard to letter case, becomes ".".
PipeServerName SplitPipeServerName(const std::string& name, const std::string& computerName);

std::string PipeName(const PipeServerName& name, uint16_t port);
std::string ServerMailslotName(uint16_t port);
std::string QueryMailslotName(uint16_t port);
std::string ClientMailslotName(const std::string& computerName, uint16_t port, uint32_t processId,
                               uint32_t number);

// Socket paths under `runtimeDir`.
std::string PipeSocketPath(const std::string& runtimeDir, uint16_t port, const std::string& server);
// One discovery socket per serving server; all of them start with ServerMailslotPrefix.
std::string ServerMailslotPath(const std::string& runtimeDir, uint16_t port,
                               const std::string& server);
std::string ServerMailslotPrefix(uint16_t port);
std::string ClientMailslotPath(const std::string& runtimeDir, uint16_t port, uint32_t processId,
                               uint32_t number);

// Reads a client reply mailslot name announced in a discovery query (text up to its first
// zero byte). True with the socket path of that mailslot when the name has exactly the
// form above for instance `port` and names this computer (or "."); false otherwise.
bool ParseClientMailslotName(const std::string& datagram, uint16_t port,
                             const std::string& computerName, const std::string& runtimeDir,
                             std::string& path);

// The answer of a server: S "@" computer name and one zero byte, cut to fit one datagram.
std::string BuildPipeDiscoveryAnswer(const std::string& serverName,
                                     const std::string& computerName);

// The text of a datagram up to its first zero byte.
std::string TextUpToZero(const char* data, size_t length);

}  // namespace vantera
