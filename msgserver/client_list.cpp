#include "msgserver/client_list.h"

#include <arpa/inet.h>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/win1252.h"
#include "msglink/Wdef.h"

namespace vantera {
namespace {

constexpr size_t kMaxFileBytes = 1 << 20;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
      ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t')
      ++i;
    if (i > start)
      words.push_back(line.substr(start, i - start));
  }
  return words;
}

uint32_t MaskOf(unsigned prefix) {
  return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
}

}  // namespace

bool ParseIpv4(const std::string& text, uint32_t* address) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1)
    return false;
  *address = ntohl(a.s_addr);
  return true;
}

std::string FormatIpv4(uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

ClientList ClientList::Parse(const std::string& text, const std::string& origin) {
  ClientList list;
  std::istringstream in(text);
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    auto fail = [&](const std::string& why) {
      throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + why);
    };
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    size_t hash = line.find('#');
    if (hash != std::string::npos)
      line.erase(hash);
    auto words = Words(line);
    if (words.empty())
      continue;
    if (words.size() < 2 || words.size() > 3)
      fail("expected NAME ADDRESS[/PREFIX] [log]");
    if (!IsValidUtf8(words[0]))
      fail("the name is not UTF-8 text");
    std::string name = Utf8ToWin1252(words[0]);
    if (name.size() > kMaxFieldLength)
      fail("the name is longer than " + std::to_string(kMaxFieldLength) + " characters");
    if (name.find(kFieldSeparator) != std::string::npos || name == kToServer)
      fail("'" + words[0] + "' cannot be a client name");
    Network net;
    std::string address = words[1];
    unsigned prefix = 32;
    size_t slash = address.find('/');
    if (slash != std::string::npos) {
      std::string p = address.substr(slash + 1);
      if (p.empty() || p.size() > 2 || p.find_first_not_of("0123456789") != std::string::npos ||
          std::stoul(p) > 32)
        fail("the prefix of '" + words[1] + "' is not a number from 0 to 32");
      prefix = static_cast<unsigned>(std::stoul(p));
      address.erase(slash);
    }
    if (!ParseIpv4(address, &net.address))
      fail("'" + words[1] + "' is not an IPv4 address");
    net.mask = MaskOf(prefix);
    net.address &= net.mask;
    if (words.size() == 3 && words[2] != "log")
      fail("unknown word '" + words[2] + "' (only 'log' may follow the address)");
    Entry& entry = list.entries_[name];
    entry.networks.push_back(net);
    entry.log = entry.log || words.size() == 3;
  }
  return list;
}

ClientList ClientList::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw std::runtime_error("cannot read the clients file " + path);
  std::string text;
  char buf[8192];
  while (file.read(buf, sizeof buf) || file.gcount() > 0) {
    text.append(buf, static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxFileBytes)
      throw std::runtime_error("the clients file " + path + " is larger than 1 MiB");
  }
  if (file.bad())
    throw std::runtime_error("cannot read the clients file " + path);
  return Parse(text, path);
}

bool ClientList::Binds(const std::string& name) const {
  return entries_.count(name) != 0;
}

bool ClientList::MayLogInFrom(const std::string& name, uint32_t address) const {
  auto it = entries_.find(name);
  if (it == entries_.end())
    return true;
  for (const Network& net : it->second.networks) {
    if ((address & net.mask) == net.address)
      return true;
  }
  return false;
}

bool ClientList::MaySendLogCommands(const std::string& name) const {
  auto it = entries_.find(name);
  return it != entries_.end() && it->second.log;
}

}  // namespace vantera
