#include "app/Profil.h"

#include <unistd.h>

#include <charconv>
#include <climits>

#include "app/ini_profile.h"
#include "core/win1252.h"

namespace vantera {
namespace {

// An optional sign followed by decimal digits and nothing else, within 32 bits.
bool ParseDecimal(std::string_view text, int32_t& out) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
      return false;
  }
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return false;
  out = value;
  return true;
}

int32_t DecimalOr(const std::string& text, int32_t fallback) {
  int32_t value = 0;
  return ParseDecimal(text, value) ? value : fallback;
}

uint32_t EngineKindOf(const std::string& text) {
  std::string name = Win1252Upper(text);
  if (name == "TCPIP")
    return kEngineTcpIp;
  if (name == "NAMEDPIPE")
    return kEngineNamedPipe;
  return kEngineCom;
}

// The two words in upper case whatever the case written; anything else names a device.
std::string ReaderDeviceOf(const std::string& text) {
  std::string word = Win1252Upper(text);
  if (word == "SIMULOITU" || word == "LIBFPRINT")
    return word;
  return text;
}

}  // namespace

bool TProfile::Execute() {
  if (Category.empty() || KeyName.empty() || IniFileName.empty()) {
    Error = 1;
    return false;
  }
  if (Action == paWrite) {
    bool written = WriteProfileString(IniFileName, Category.str(), KeyName.str(), DataString.str());
    if (!written)
      Error = 1;
    return written;
  }
  // A blank default comes back empty, so that an absent key fails.
  std::string_view fallback = DefaultValue.empty() ? std::string_view(" ") : DefaultValue.str();
  DataString = ReadProfileString(IniFileName, Category.str(), KeyName.str(), fallback);
  if (DataString.empty()) {
    Error = 1;
    return false;
  }
  return true;
}

std::string ProgramDirectory() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
    return {};
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

std::string SettingsFilePath(const std::string& program_dir) {
  if (program_dir.empty())
    return {};
  return Str64(program_dir + std::string(kSettingsFileName)).str();
}

bool ReadIniValue(TProfile& ini, const std::string& path, std::string_view section,
                  std::string_view key, std::string& value) {
  ini.IniFileName = path;
  ini.Action = paRead;
  ini.Category = section;
  ini.KeyName = key;
  if (!ini.Execute())
    return false;
  value = ini.DataString;
  return true;
}

Settings ReadSettings(TProfile& ini, const std::string& path) {
  Settings s;
  std::string v;
  auto read = [&](std::string_view section, std::string_view key) {
    return ReadIniValue(ini, path, section, key, v);
  };
  if (read("DataBase", "Alias"))
    s.alias = v;
  if (read("DataBase", "Engine"))
    s.engine_kind = EngineKindOf(v);
  if (read("DataBase", "ServerName"))
    s.db.ServerName = v;
  if (read("DataBase", "ServerAddress"))
    s.db.ServerAddress = v;
  if (read("DataBase", "Port"))  // kept modulo 65536, as the 16-bit field holds it
    s.db.Port = static_cast<uint16_t>(static_cast<uint32_t>(DecimalOr(v, 16000)));
  if (read("DataBase", "CompressLimit"))
    s.db.CompressLimit = DecimalOr(v, 512);
  if (read("DataBase", "SecuredTransport"))
    s.db.SecuredTransport = Win1252Upper(v) == "YES";
  if (read("DataBase", "Key")) {
    if (std::optional<std::string> key = DecodeTransportKey(v)) {
      s.db.Key = *key;
      s.db.key_from_file = true;
    }
  }
  if (read("MessageSrv", "ServerAddress"))
    s.msg_server_address = v;
  if (read("MessageSrv", "ServerPort"))
    s.msg_server_port = v;
  if (read("Defaults", "Vantera"))
    s.client_name = Str255("Vantera" + v).str();
  if (read("MessageSrv", "PingTime"))
    s.ping_time = DecimalOr(v, 180);
  if (read("MessageSrv", "MessageMaxAge"))
    s.message_max_age = DecimalOr(v, 1800);
  if (read("Lukija", "Laite"))
    s.reader_device = ReaderDeviceOf(v);
  return s;
}

Settings ReadSettings(const std::string& path) {
  TProfile ini;
  return ReadSettings(ini, path);
}

}  // namespace vantera
