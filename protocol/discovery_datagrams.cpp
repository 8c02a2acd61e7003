#include "protocol/discovery_datagrams.h"

#include "core/win1252.h"

namespace vantera {

namespace {

std::string_view TextPart(std::string_view datagram) {
  size_t zero = datagram.find('\0');
  return zero == std::string_view::npos ? datagram : datagram.substr(0, zero);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Win1252Upper(a) == Win1252Upper(b);
}

}  // namespace

bool IsDiscoveryQuery(std::string_view datagram) {
  return EqualIgnoringCase(TextPart(datagram), TextPart(kDiscoveryQuery));
}

std::string BuildDiscoveryAnswer(std::string_view serverName) {
  std::string answer(kDiscoveryAnswerPrefix);
  answer.append(serverName);
  answer.push_back('\0');
  return answer;
}

std::string ParseDiscoveryAnswer(std::string_view datagram, uint32_t senderAddress) {
  std::string_view text = TextPart(datagram);
  const size_t n = kDiscoveryAnswerPrefix.size();
  if (text.size() <= n || !EqualIgnoringCase(text.substr(0, n), kDiscoveryAnswerPrefix))
    return {};
  return std::string(text.substr(n)) + "@" + DottedAddress(senderAddress);
}

std::string DottedAddress(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace vantera
