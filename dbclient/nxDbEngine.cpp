#include "dbclient/nxDbEngine.h"

namespace vantera {

TnxDbEng::TnxDbEng() {
  nxSession.SetServerEngine(&nxRemoteServerEngine);
  nxDatabase.SetSession(&nxSession);
  nxDatabase.SetAliasName("Tarvola");
  nxWinsockTransport.SetMaxBytesPerSecond(0);
  nxWinsockTransport.SetPingTime(0);
}

TnxDbEng::~TnxDbEng() {
  // Dependents first: the database, the session, the engine, then the transport.
  nxDatabase.Close();
  nxSession.Close();
  nxRemoteServerEngine.Close();
  nxWinsockTransport.Close();
}

void TnxDbEng::OpenConnection(uint32_t kind, const std::string& alias) {
  nxRemoteServerEngine.SetEnabled(false);
  if (kind == 0 || kind == 1) {
    std::string server;
    if (!Values.ServerName.empty() && !Values.ServerAddress.empty())
      server = Values.ServerName + "@" + Values.ServerAddress;
    nxWinsockTransport.SetServerNameRuntime(server);
    if (Values.Port != 0)
      nxWinsockTransport.SetPort(Values.Port);
    nxWinsockTransport.SetCompressLimit(static_cast<uint32_t>(Values.CompressLimit));
    nxRemoteServerEngine.SetTransport(&nxWinsockTransport);
    nxSession.SetServerEngine(&nxRemoteServerEngine);
    nxRemoteServerEngine.SetEnabled(true);
  }
  if (kind == 0)
    nxDatabase.SetAliasPath(alias);
  else if (!alias.empty())
    nxDatabase.SetAliasName(alias);
}

void TnxDbEng::CloseConnection(int32_t kind) {
  nxDatabase.Close();
  if (kind != 0 && nxRemoteServerEngine.Transport())
    nxRemoteServerEngine.Transport()->Close();
  if (TnxRemoteServerEngine* engine = nxSession.ServerEngine())
    engine->Close();
  nxRemoteServerEngine.SetEnabled(false);
}

}  // namespace vantera
