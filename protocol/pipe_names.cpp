#include "protocol/pipe_names.h"

#include <unistd.h>

#include <cstring>

#include "core/win1252.h"
#include "protocol/local_sockets.h"

namespace vantera {

namespace {

const char kPipeText[] = "\\pipe\\KantaDB\\1.0\\";
const char kMailslotText[] = "\\mailslot\\KantaDB\\1.0\\";

std::string Trim(const std::string& text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
    --e;
  return text.substr(b, e - b);
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 10 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string LocalComputerName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0)
    return "localhost";
  std::string name(host);
  size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

PipeServerName SplitPipeServerName(const std::string& name, const std::string& computerName) {
  PipeServerName out;
  size_t at = name.find('@');
  out.server = Trim(name.substr(0, at));
  out.machine = at == std::string::npos ? std::string() : Trim(name.substr(at + 1));
  if (out.machine.empty() || Win1252Upper(out.machine) == Win1252Upper(computerName))
    out.machine = ".";
  return out;
}

std::string PipeName(const PipeServerName& name, uint16_t port) {
  return "\\\\" + name.machine + kPipeText + std::to_string(port) + "\\" + name.server;
}

std::string ServerMailslotName(uint16_t port) {
  return std::string("\\\\.") + kMailslotText + std::to_string(port) + "\\Server";
}

std::string QueryMailslotName(uint16_t port) {
  return std::string("\\\\*") + kMailslotText + std::to_string(port) + "\\Server";
}

std::string ClientMailslotName(const std::string& computerName, uint16_t port, uint32_t processId,
                               uint32_t number) {
  return "\\\\" + computerName + kMailslotText + std::to_string(port) + "\\Client\\" +
         std::to_string(processId) + "_" + std::to_string(number);
}

std::string PipeSocketPath(const std::string& runtimeDir, uint16_t port,
                           const std::string& server) {
  return runtimeDir + "/kantadb-pipe-" + std::to_string(port) + "-" +
         EncodeFileName(Win1252Upper(server));
}

std::string ServerMailslotPrefix(uint16_t port) {
  return "kantadb-mailslot-" + std::to_string(port) + "-Server-";
}

std::string ServerMailslotPath(const std::string& runtimeDir, uint16_t port,
                               const std::string& server) {
  return runtimeDir + "/" + ServerMailslotPrefix(port) + EncodeFileName(Win1252Upper(server));
}

std::string ClientMailslotPath(const std::string& runtimeDir, uint16_t port, uint32_t processId,
                               uint32_t number) {
  return runtimeDir + "/kantadb-mailslot-" + std::to_string(port) + "-Client-" +
         std::to_string(processId) + "_" + std::to_string(number);
}

bool ParseClientMailslotName(const std::string& datagram, uint16_t port,
                             const std::string& computerName, const std::string& runtimeDir,
                             std::string& path) {
  const std::string text = TextUpToZero(datagram.data(), datagram.size());
  if (text.compare(0, 2, "\\\\") != 0)
    return false;
  const size_t slash = text.find('\\', 2);
  if (slash == std::string::npos)
    return false;
  const std::string machine = text.substr(2, slash - 2);
  if (machine != "." && Win1252Upper(machine) != Win1252Upper(computerName))
    return false;
  const std::string expected = kMailslotText + std::to_string(port) + "\\Client\\";
  if (text.compare(slash, expected.size(), expected) != 0)
    return false;
  const std::string id = text.substr(slash + expected.size());
  const size_t underscore = id.find('_');
  if (underscore == std::string::npos)
    return false;
  const std::string pid = id.substr(0, underscore);
  const std::string number = id.substr(underscore + 1);
  if (!AllDigits(pid) || !AllDigits(number))
    return false;
  path = runtimeDir + "/kantadb-mailslot-" + std::to_string(port) + "-Client-" + pid + "_" + number;
  return true;
}

std::string BuildPipeDiscoveryAnswer(const std::string& serverName,
                                     const std::string& computerName) {
  std::string text = serverName + "@" + computerName;
  if (text.size() > kMailslotMessageMax - 1)
    text.resize(kMailslotMessageMax - 1);
  text += '\0';
  return text;
}

std::string TextUpToZero(const char* data, size_t length) {
  const void* zero = std::memchr(data, 0, length);
  return std::string(data,
                     zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : length);
}

}  // namespace vantera
