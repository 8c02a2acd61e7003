// The database connection module nxDbEng: owns the session, the database, the remote
// engine and the transports, and wires them from the [DataBase] settings.
//
// OpenConnection wires and arms the chain without opening anything; the caller then opens
// nxSession, which starts the engine, which starts the chosen transport. CloseConnection
// takes the chain down at exit. This first module serves the TCP/IP engine kinds (0 and
// 1, plain transport); the other kinds configure nothing and leave the engine disabled, so
// opening the session then fails with "The Component is disabled.".
#pragma once

#include <cstdint>
#include <string>

#include "dbclient/nxdb.h"
#include "dbconn/nxtwWinsockTransport.h"

namespace vantera {

// What the settings reader stores into the module before OpenConnection.
struct TnxDbConnectionValues {
  std::string ServerName;     // TCP/IP: a label that must be set for the address to count
  std::string ServerAddress;  // address or host name
  uint16_t Port = 16000;      // 0 keeps the transport's port
  int32_t CompressLimit = 512;
  bool SecuredTransport = false;
  std::string Key;
};

class TnxDbEng {
 public:
  TnxDbEng();
  // Frees the chain: cursors' databases, session, engine, transports (closing each).
  ~TnxDbEng();
  TnxDbEng(const TnxDbEng&) = delete;
  TnxDbEng& operator=(const TnxDbEng&) = delete;

  TnxDbConnectionValues Values;

  // Wires the chain for transport kind `kind` (0, 1: TCP/IP) and the alias (kind 0: an
  // alias path, else an alias name; empty keeps "Tarvola"). Opens nothing.
  void OpenConnection(uint32_t kind, const std::string& alias);
  // Closes the database, the transport in use (kind other than 0), the engine, and
  // disables the engine.
  void CloseConnection(int32_t kind);

  TnxSession nxSession{"nxSession"};
  TnxDatabase nxDatabase{"nxDatabase"};
  TnxRemoteServerEngine nxRemoteServerEngine{"nxRemoteServerEngine"};
  TnxWinsockTransport nxWinsockTransport{"nxWinsockTransport"};
};

}  // namespace vantera
