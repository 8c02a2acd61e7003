#include "msglink/wsocket_resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "msglink/socket_error.h"

namespace vantera {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of the leading decimal digits of `text` (saturating well above any port or
// protocol number, so that a long digit string cannot overflow).
unsigned long LeadingNumber(const std::string& text) {
  unsigned long v = 0;
  for (char c : text) {
    if (!IsDigit(c))
      break;
    v = v * 10 + static_cast<unsigned long>(c - '0');
    if (v > 0xFFFFFFFFul)
      v = 0xFFFFFFFFul;
  }
  return v;
}

// Dotted address parts, when the text has the dotted form; parts[0] is the first byte.
bool ParseDotted(const std::string& text, unsigned parts[4]) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  if (i >= text.size() || text[i] == '.')
    return false;
  int part = 0;
  unsigned value = 0;
  int digits = 0;
  for (; i < text.size() && text[i] != ' '; ++i) {
    char c = text[i];
    if (IsDigit(c)) {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (++digits > 3 || value > 255)
        return false;
    } else if (c == '.') {
      if (digits == 0 || part == 3)
        return false;
      if (i + 1 >= text.size() || !IsDigit(text[i + 1]))
        return false;
      parts[part++] = value;
      value = 0;
      digits = 0;
    } else {
      return false;
    }
  }
  if (part != 3 || digits == 0)
    return false;
  parts[3] = value;
  for (; i < text.size(); ++i)
    if (text[i] != ' ')
      return false;
  return true;
}

}  // namespace

bool WSocketIsDottedIP(const std::string& text) {
  unsigned parts[4];
  return ParseDotted(text, parts);
}

in_addr WSocketResolveHost(const std::string& text) {
  if (text.empty() || text.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + text + "' Invalid Hostname.");
  unsigned parts[4];
  in_addr result{};
  if (ParseDotted(text, parts)) {
    uint32_t host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
    result.s_addr = htonl(host);
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(text.c_str(), nullptr, &hints, &list);
  if (rc != 0 || list == nullptr) {
    if (list != nullptr)
      freeaddrinfo(list);
    throw ESocketException("WSocketResolveHost: Cannot convert host address '" + text +
                           "', Error #" + std::to_string(WinsockCodeFromResolver(rc)));
  }
  sockaddr_in sin;
  std::memcpy(&sin, list->ai_addr, sizeof sin);
  freeaddrinfo(list);
  return sin.sin_addr;
}

int WSocketResolveProto(const std::string& text) {
  if (text.empty() || text.size() > 31)
    throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  if (IsDigit(text[0]))
    return static_cast<int>(LeadingNumber(text) & 0xFF);
  protoent entry{};
  protoent* found = nullptr;
  char buf[1024];
  if (getprotobyname_r(text.c_str(), &entry, buf, sizeof buf, &found) == 0 && found != nullptr)
    return found->p_proto;
  // A system without a protocol table still knows the two protocols sockets are made for.
  if (text == "tcp")
    return IPPROTO_TCP;
  if (text == "udp")
    return IPPROTO_UDP;
  throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + text +
                         "', Error #11004");
}

uint16_t WSocketResolvePort(const std::string& text, const std::string& proto) {
  if (text.empty() || text.size() > 31)
    throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (proto.empty() || proto.size() > 31)
    throw ESocketException("WSocketResolvePort: Invalid Proto.");
  if (IsDigit(text[0]))
    return static_cast<uint16_t>(LeadingNumber(text) & 0xFFFF);
  servent entry{};
  servent* found = nullptr;
  char buf[1024];
  // A numeric protocol text is looked up by its name in the services table.
  std::string proto_name = proto;
  if (IsDigit(proto[0]))
    proto_name = LeadingNumber(proto) == IPPROTO_UDP ? "udp" : "tcp";
  if (getservbyname_r(text.c_str(), proto_name.c_str(), &entry, buf, sizeof buf, &found) == 0 &&
      found != nullptr)
    return ntohs(static_cast<uint16_t>(found->s_port));
  throw ESocketException("WSocketResolvePort: Cannot convert port '" + text + "', Error #11004");
}

}  // namespace vantera
