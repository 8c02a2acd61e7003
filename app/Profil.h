// The settings file "Tarvola.ini": its reader component TProfile and the program's settings.
//
// The file lies beside the program file and is read once at start-up; nothing writes it.
// Every setting has a default, so the program starts without the file; unreadable or
// unparsable values take their defaults silently. The keys are listed in docs/settings.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/short_text.h"
#include "app/transport_key.h"

namespace vantera {

enum TProfileAction { paRead, paWrite };

// Reads (or writes) one value of a profile file. Texts are cut to their limits when
// assigned: names and the path to 64 characters, the value to 255.
class TProfile {
 public:
  Str64 Category;      // section name
  Str64 KeyName;       // key name
  Str64 DefaultValue;  // default handed to the reader; empty means one blank
  Str255 DataString;   // the value read, or the value to write
  Str64 IniFileName;   // path of the file
  TProfileAction Action = paRead;
  int16_t Error = 0;  // set to 1 when Execute fails (and never reset by Execute)

  // paRead: reads KeyName of Category into DataString; succeeds when the text read is not
  // empty. paWrite: writes DataString; succeeds when the writer does. An empty Category,
  // KeyName or IniFileName fails without touching the file or DataString.
  bool Execute();
};

// The database engine kinds of the "Engine" setting.
enum EngineKind : uint32_t { kEngineTcpIp = 1, kEngineNamedPipe = 2, kEngineCom = 3 };

// The values handed to the database connection module (nxDbEng); names as its fields.
struct DbConnectionValues {
  std::string ServerName;
  std::string ServerAddress;
  uint16_t Port = 16000;
  int32_t CompressLimit = 512;
  bool SecuredTransport = false;
  std::string Key{kPlaceholderTransportKey};  // deciphered; the placeholder when unusable
  bool key_from_file = false;                 // false when Key is the placeholder
};

// Every setting the program uses, with its default.
struct Settings {
  std::string alias = "TARVOLA";
  uint32_t engine_kind = kEngineCom;
  DbConnectionValues db;
  std::string msg_server_address = "127.0.0.1";
  std::string msg_server_port = "40201";
  std::string client_name = "Vantera01";  // the sender field of every message line
  int32_t ping_time = 180;                // seconds; 0 switches pinging off
  int32_t message_max_age = 1800;         // seconds a card message may wait; 0 or less: ever
  // [Lukija] Laite: SIMULOITU (the simulated reader), LIBFPRINT (the first libfprint device
  // that delivers images), or a libfprint device id or driver name (as written).
  std::string reader_device = "SIMULOITU";
};

inline constexpr std::string_view kSettingsFileName = "Tarvola.ini";

// The folder of the running program file with a closing "/", or empty when unknown.
std::string ProgramDirectory();

// program_dir + "Tarvola.ini", cut to 64 characters; empty when program_dir is empty.
std::string SettingsFilePath(const std::string& program_dir = ProgramDirectory());

// Reads key of section from the file at path through ini (names cut to 64 characters).
// On success stores the value and returns true; on failure leaves value untouched.
bool ReadIniValue(TProfile& ini, const std::string& path, std::string_view section,
                  std::string_view key, std::string& value);

// Reads every setting in order, each default applied where the read fails.
Settings ReadSettings(TProfile& ini, const std::string& path);
Settings ReadSettings(const std::string& path = SettingsFilePath());

}  // namespace vantera
