// The database connection module nxDbEng: owns the session, the database, the remote
// engine and the four transports, and wires them from the [DataBase] settings.
//
// OpenConnection wires and arms the chain without opening anything; the caller then opens
// nxSession, which starts the engine, which starts the chosen transport. CloseConnection
// takes the chain down at exit.
//
//   kind  transport                                                alias is
//   0, 1  nxWinsockTransport, or nxBlowfishRC4SecuredTransport     0: a path, 1: a name
//         over it when SecuredTransport is set
//   2     nxNamedPipeTransport (local pipe)                        a name
//   3     nxCOMTransport (local server registry)                   a name
//
// Any other kind configures nothing and leaves the engine disabled. A transport whose
// server name is empty finds servers when it starts; when it finds several it asks
// nxWinsockTransportChooseServer, which asks the installed ServerChooser (the selection
// dialog in the workstation); without a chooser, or without a choice, the first name in
// alphabetical order is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbclient/nxdb.h"
#include "dbconn/nxtcCOMTransport.h"
#include "dbconn/nxtnNamedPipeTransport.h"
#include "dbconn/nxtsBlowfishRC4SecuredTransport.h"
#include "dbconn/nxtwWinsockTransport.h"
#include "dbconn/server_selection.h"

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

  // Wires the chain for transport kind `kind` and the alias (kind 0: an alias path, else
  // an alias name; empty keeps "Tarvola"). Opens nothing.
  void OpenConnection(uint32_t kind, const std::string& alias);
  // Closes the database, the transport in use (kind other than 0), the engine, and
  // disables the engine.
  void CloseConnection(int32_t kind);

  // The OnChooseServer handler of the three plain transports.
  void nxWinsockTransportChooseServer(TnxBaseTransport& aSender,
                                      const std::vector<std::string>& aServerNames,
                                      std::string& aServerName, bool& aResult);
  // Asks the chooser; false with an empty name when there is none or nothing was chosen.
  bool SelectServer(const std::vector<std::string>& names, std::string& serverName);
  // The dialog that SelectServer shows (not owned; may be null).
  void SetServerChooser(ServerChooser* chooser) { chooser_ = chooser; }

  TnxSession nxSession{"nxSession"};
  TnxDatabase nxDatabase{"nxDatabase"};
  TnxRemoteServerEngine nxRemoteServerEngine{"nxRemoteServerEngine"};
  TnxWinsockTransport nxWinsockTransport{"nxWinsockTransport"};
  TnxNamedPipeTransport nxNamedPipeTransport{"nxNamedPipeTransport"};
  TnxRegisteredCOMTransport nxCOMTransport{"nxCOMTransport"};
  TnxBlowfishRC4SecuredTransport nxBlowfishRC4SecuredTransport{"nxBlowfishRC4SecuredTransport"};

 private:
  ServerChooser* chooser_ = nullptr;
};

}  // namespace vantera
