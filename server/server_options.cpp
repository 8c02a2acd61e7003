#include "server/server_options.h"

#include <fstream>
#include <stdexcept>

#include "core/win1252.h"
#include "server/engine/pg_connection.h"

namespace vantera {

namespace {

uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t max) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 12)
    throw std::invalid_argument(option + ": not a number: " + text);
  uint64_t v = std::stoull(text);
  if (v > max)
    throw std::invalid_argument(option + ": " + text + " is above " + std::to_string(max));
  return v;
}

// The key of --tunnel-key-file: the file's first line, without its line end. Keeps the
// key out of the process list and lets it hold blanks.
std::string ReadKeyFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::invalid_argument("--tunnel-key-file: cannot read " + path);
  constexpr size_t kMaxKeyFile = 4096;
  std::string text(kMaxKeyFile + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxKeyFile)
    throw std::invalid_argument("--tunnel-key-file: " + path + " is longer than 4096 bytes");
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r')
    text.pop_back();
  return text;
}

// The workstation holds its key in Windows-1252; UTF-8 text is converted.
std::string TunnelKeyText(const std::string& text) {
  return IsValidUtf8(text) ? Utf8ToWin1252(text) : text;
}

}  // namespace

ServerOptions ParseServerOptions(const std::vector<std::string>& args) {
  ServerOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size())
        throw std::invalid_argument(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--listen") {
      const std::string& v = value();
      size_t colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0)
        throw std::invalid_argument("--listen: expected HOST:PORT, got " + v);
      o.host = v.substr(0, colon);
      o.port = static_cast<uint16_t>(ParseNumber("--listen", v.substr(colon + 1), 65534));
    } else if (a == "--data") {
      o.dataDir = value();
    } else if (a == "--storage") {
      o.storage = value();
      if (o.storage != "sqlite" && o.storage != "postgresql")
        throw std::invalid_argument("--storage: sqlite or postgresql, got " + o.storage);
    } else if (a == "--pg") {
      o.pgConnInfo = value();
      CheckConnInfo(o.pgConnInfo);
    } else if (a == "--pg-password-file") {
      o.pgPasswordFile = value();
    } else if (a == "--alias") {
      const std::string& v = value();
      if (v.find('=') == std::string::npos || v.front() == '=' || v.back() == '=')
        throw std::invalid_argument("--alias: expected NAME=DIR, got " + v);
      o.aliases.push_back(v);
    } else if (a == "--string-type") {
      o.stringType = value();
      if (o.stringType != "short" && o.stringType != "null")
        throw std::invalid_argument("--string-type: short or null, got " + o.stringType);
    } else if (a == "--demo-data") {
      o.demoData = true;
    } else if (a == "--max-blob") {
      o.maxBlobSize = ParseNumber(a, value(), 1u << 30);
    } else if (a == "--name") {
      o.name = value();
      if (o.name.empty() || o.name.size() > 200)
        throw std::invalid_argument("--name: 1 to 200 characters");
    } else if (a == "--users") {
      o.usersFile = value();
    } else if (a == "--runtime-dir") {
      o.runtimeDir = value();
    } else if (a == "--max-frame") {
      o.maxFrameLength = static_cast<uint32_t>(ParseNumber(a, value(), 0xFFFFFFFFu));
      if (o.maxFrameLength < 32 + 536)
        throw std::invalid_argument("--max-frame: at least 568 bytes (a login frame)");
    } else if (a == "--handshake-timeout") {
      o.handshakeTimeoutMs = static_cast<uint32_t>(ParseNumber(a, value(), 86400000));
    } else if (a == "--frame-timeout") {
      o.frameTimeoutMs = static_cast<uint32_t>(ParseNumber(a, value(), 86400000));
    } else if (a == "--max-heartbeat") {
      o.maxHeartbeatSeconds = static_cast<uint32_t>(ParseNumber(a, value(), 86400));
      if (o.maxHeartbeatSeconds == 0)
        throw std::invalid_argument("--max-heartbeat: at least 1 second");
    } else if (a == "--no-session-timeout") {
      o.noSessionTimeoutMs = static_cast<uint32_t>(ParseNumber(a, value(), 86400000));
    } else if (a == "--max-connections") {
      o.maxConnections = static_cast<size_t>(ParseNumber(a, value(), 100000));
    } else if (a == "--max-per-address") {
      o.maxPerAddress = static_cast<size_t>(ParseNumber(a, value(), 100000));
      if (o.maxPerAddress == 0)
        throw std::invalid_argument("--max-per-address: at least 1");
    } else if (a == "--no-discovery") {
      o.discovery = false;
    } else if (a == "--no-local") {
      o.localTransports = false;
    } else if (a == "--tunnel-key") {
      o.tunnel = true;
      o.tunnelKey = TunnelKeyText(value());
    } else if (a == "--tunnel-key-file") {
      o.tunnel = true;
      o.tunnelKey = TunnelKeyText(ReadKeyFile(value()));
    } else if (a == "--tunnel-only") {
      o.tunnelOnly = true;
    } else if (a == "--trace") {
      o.trace = true;
    } else {
      throw std::invalid_argument("unknown option " + a + " (try --help)");
    }
  }
  if (o.storage == "postgresql") {
    if (o.pgConnInfo.empty())
      throw std::invalid_argument("--storage postgresql needs --pg CONNINFO");
    if (!o.dataDir.empty())
      throw std::invalid_argument(
          "--data is the folder of --storage sqlite; on PostgreSQL alias Tarvola is the "
          "schema tarvola, further ones --alias NAME=SCHEMA");
  } else if (!o.pgConnInfo.empty() || !o.pgPasswordFile.empty()) {
    throw std::invalid_argument("--pg and --pg-password-file need --storage postgresql");
  }
  if (o.tunnelOnly && !o.tunnel)
    throw std::invalid_argument("--tunnel-only needs --tunnel-key or --tunnel-key-file");
  return o;
}

std::string ServerUsage() {
  return "Usage: kantadb-server [options]\n"
         "The KantaDB database server: serves database sessions to workstations over TCP.\n"
         "\n"
         "  --listen HOST:PORT       address and TCP port to listen on (default\n"
         "                           127.0.0.1:16000; port 0 picks a free one). Discovery\n"
         "                           queries are answered on UDP port PORT, answers go to\n"
         "                           PORT + 1 of the asker.\n"
         "  --data DIR               data folder of the alias \"Tarvola\" (the workstation's\n"
         "                           default); created when missing\n"
         "  --alias NAME=DIR         a further alias and its data folder (repeatable); on\n"
         "                           PostgreSQL NAME=SCHEMA, a schema name of a-z, 0-9, _\n"
         "  --storage sqlite|postgresql  where the tables live (default sqlite: one SQLite\n"
         "                           file per data folder, one server per folder);\n"
         "                           postgresql: one schema per alias in the database of\n"
         "                           --pg, shared by any number of servers, the alias\n"
         "                           Tarvola in schema tarvola\n"
         "  --pg CONNINFO            libpq connection string (\"host=/run/pg dbname=kanta\n"
         "                           user=kanta\"); a password is refused here\n"
         "  --pg-password-file FILE  password file in libpq's format (else PGPASSFILE or\n"
         "                           ~/.pgpass)\n"
         "  --string-type short|null text field type of the tables a new data folder gets\n"
         "                           (default short)\n"
         "  --demo-data              fill new data folders with sample customers and cards\n"
         "  --max-blob BYTES         largest blob a client may write (default 67108864)\n"
         "  --name NAME              server name given in discovery answers (default KantaDB)\n"
         "  --users FILE             accounts, one \"name:password\" per line; without it\n"
         "                           only the empty user name with the empty password logs in\n"
         "  --runtime-dir DIR        folder for local sockets (default $XDG_RUNTIME_DIR/vantera\n"
         "                           or /tmp/vantera-UID)\n"
         "  --max-frame BYTES        largest frame a client may send (default 67108864);\n"
         "                           a longer one closes its connection\n"
         "  --handshake-timeout MS   drop a connection that has not opened or attached a\n"
         "                           transport within MS milliseconds (default 10000)\n"
         "  --frame-timeout MS       drop a connection whose frame has not arrived whole MS\n"
         "                           milliseconds after its first byte (default 30000)\n"
         "  --max-heartbeat SECONDS  longest heartbeat interval a client may announce; a\n"
         "                           longer one is held to SECONDS, and a transport silent\n"
         "                           for twice that is dropped (default 60)\n"
         "  --no-session-timeout MS  drop a transport that has had no working session for\n"
         "                           MS milliseconds (default 30000; 0: never); a tunnel\n"
         "                           session works once it has shown the tunnel key\n"
         "  --max-connections N      refuse connections beyond N open ones (default 1000);\n"
         "                           when full, a newcomer takes the place of the oldest\n"
         "                           connection without a working session (open 2 s or\n"
         "                           more), and the log tells which addresses hold how many\n"
         "  --max-per-address N      refuse TCP connections beyond N open ones from one\n"
         "                           client address (default 64)\n"
         "  --no-discovery           do not answer discovery queries\n"
         "  --no-local               serve neither the local pipe nor the local registry\n"
         "  --tunnel-key TEXT        serve the encrypted tunnel with this key (may be empty)\n"
         "  --tunnel-key-file FILE   the same, the key being the first line of FILE (keeps\n"
         "                           it out of the process list; blanks allowed)\n"
         "  --tunnel-only            over TCP, open only tunnel sessions: a client without\n"
         "                           the tunnel key cannot log in (local transports still\n"
         "                           serve plain sessions)\n"
         "  --trace                  log every frame and connection\n"
         "  --help                   show this text\n"
         "\n"
         "Prints \"listening on HOST:PORT\" on standard output when ready; logs on standard\n"
         "error. SIGTERM or SIGINT stops it; exit code 0 after a clean stop, 1 when it\n"
         "could not start, 2 for a wrong command line.\n"
         "\n"
         "  kantadb-server import TABLE FILE.csv --data DIR   add the rows of a CSV file\n"
         "  kantadb-server export TABLE --data DIR            write a table as CSV to stdout\n"
         "  (import and export take --storage postgresql --pg CONNINFO [--schema NAME]\n"
         "  in place of --data DIR)\n"
         "  kantadb-server copy --from sqlite:DIR --to postgresql:CONNINFO [--schema NAME]\n"
         "                           copy a data folder into an empty schema\n";
}

}  // namespace vantera
