// The datagrams of TCP server discovery, shared by the client and the server.
//
//   query   "Kanta/nxWinsock/Client" and one zero byte (23 bytes), to UDP port P
//   answer  "Kanta/nxWinsock/Server:" + server name + one zero byte, to port P + 1
//
//   query    offset size content
//                 0   22 "Kanta/nxWinsock/Client" (Windows-1252)
//                22    1 zero byte
//   answer   offset size content
//                 0   23 "Kanta/nxWinsock/Server:"
//                23    n server name (Windows-1252)
//            23 + n    1 zero byte
//
// Both texts are compared without regard to letter case; a datagram is read as text up
// to its first zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantera {

inline constexpr std::string_view kDiscoveryQuery{"Kanta/nxWinsock/Client\0", 23};
inline constexpr std::string_view kDiscoveryAnswerPrefix = "Kanta/nxWinsock/Server:";
// Largest datagram either side reads.
inline constexpr size_t kDiscoveryDatagramMax = 255;

// True when the datagram's text equals the query text.
bool IsDiscoveryQuery(std::string_view datagram);

// The answer datagram for a server name.
std::string BuildDiscoveryAnswer(std::string_view serverName);

// The entry "name@a.b.c.d" for an answer from `senderAddress` (host byte order), or an
// empty string when the datagram is not an answer or names no server.
std::string ParseDiscoveryAnswer(std::string_view datagram, uint32_t senderAddress);

// "a.b.c.d" of an IPv4 address in host byte order.
std::string DottedAddress(uint32_t address);

}  // namespace vantera
