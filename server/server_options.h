// Command line of kantadb-server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantera {

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 16000;
  std::string storage = "sqlite";    // sqlite or postgresql
  std::string pgConnInfo;            // libpq connection string, without a password
  std::string pgPasswordFile;        // the password file for it (else PGPASSFILE)
  std::string dataDir;               // where the database engine keeps its files
  std::vector<std::string> aliases;  // further aliases, "NAME=DIR" each
  std::string stringType = "short";  // text fields of new workstation tables: short or null
  bool demoData = false;             // fill new data folders with sample customers and cards
  uint64_t maxBlobSize = 64u << 20;
  std::string name = "KantaDB";
  std::string usersFile;
  std::string runtimeDir;
  uint32_t maxFrameLength = 64u << 20;
  uint32_t handshakeTimeoutMs = 10000;
  uint32_t frameTimeoutMs = 30000;
  uint32_t maxHeartbeatSeconds = 60;  // longest announced heartbeat interval honoured
  uint32_t noSessionTimeoutMs =
      30000;  // a transport without a working session is dropped; 0: never
  size_t maxConnections = 1000;
  size_t maxPerAddress = 64;  // open TCP connections from one client address
  bool discovery = true;
  bool localTransports = true;  // the local pipe and the local registry
  bool trace = false;
  bool help = false;
  bool tunnel = false;      // serve the encrypted tunnel (--tunnel-key given)
  std::string tunnelKey;    // its key, Windows-1252 bytes; empty allowed
  bool tunnelOnly = false;  // over TCP, refuse every session but the tunnel's
};

// Parses argv; throws std::invalid_argument with a message naming the option.
ServerOptions ParseServerOptions(const std::vector<std::string>& args);

// The text of --help.
std::string ServerUsage();

}  // namespace vantera
