#include "dbclient/nxDbEngine.h"

namespace vantera {

TnxDbEng::TnxDbEng() {
  nxSession.SetServerEngine(&nxRemoteServerEngine);
  nxDatabase.SetSession(&nxSession);
  nxDatabase.SetAliasName("Tarvola");
  nxRemoteServerEngine.SetTransport(&nxNamedPipeTransport);  // replaced by OpenConnection
  auto choose = [this](TnxBaseTransport& sender, const std::vector<std::string>& names,
                       std::string& name, bool& result) {
    nxWinsockTransportChooseServer(sender, names, name, result);
  };
  for (TnxBaseTransport* t : std::initializer_list<TnxBaseTransport*>{
           &nxWinsockTransport, &nxNamedPipeTransport, &nxCOMTransport}) {
    t->OnChooseServer = choose;
    t->SetMaxBytesPerSecond(0);
    t->SetPingTime(0);
  }
  nxBlowfishRC4SecuredTransport.SetTransport(&nxWinsockTransport);
}

TnxDbEng::~TnxDbEng() {
  // Dependents first: the database, the session, the engine, then the transports (the
  // encrypted one before the TCP transport beneath it).
  nxDatabase.Close();
  nxSession.Close();
  nxRemoteServerEngine.Close();
  nxBlowfishRC4SecuredTransport.Close();
  nxWinsockTransport.Close();
  nxNamedPipeTransport.Close();
  nxCOMTransport.Close();
}

void TnxDbEng::OpenConnection(uint32_t kind, const std::string& alias) {
  nxRemoteServerEngine.SetEnabled(false);
  bool wired = true;
  switch (kind) {
    case 0:
    case 1: {
      std::string server;
      if (!Values.ServerName.empty() && !Values.ServerAddress.empty())
        server = Values.ServerName + "@" + Values.ServerAddress;
      nxWinsockTransport.SetServerNameRuntime(server);
      if (Values.Port != 0)
        nxWinsockTransport.SetPort(Values.Port);
      nxWinsockTransport.SetCompressLimit(static_cast<uint32_t>(Values.CompressLimit));
      if (Values.SecuredTransport) {
        nxBlowfishRC4SecuredTransport.SetKey(Values.Key);
        nxRemoteServerEngine.SetTransport(&nxBlowfishRC4SecuredTransport);
      } else {
        nxRemoteServerEngine.SetTransport(&nxWinsockTransport);
      }
      break;
    }
    case 2:
      nxNamedPipeTransport.SetServerNameRuntime(Values.ServerName);
      nxRemoteServerEngine.SetTransport(&nxNamedPipeTransport);
      break;
    case 3:
      nxCOMTransport.SetServerNameRuntime(Values.ServerName);
      nxRemoteServerEngine.SetTransport(&nxCOMTransport);
      break;
    default:
      wired = false;
      break;
  }
  if (wired) {
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
  if (kind != 0 && nxRemoteServerEngine.Transport()) {
    nxRemoteServerEngine.Transport()->Close();
    // The TCP transport beneath the encrypted one is closed with it.
    if (nxRemoteServerEngine.Transport() == &nxBlowfishRC4SecuredTransport)
      nxWinsockTransport.Close();
  }
  if (TnxRemoteServerEngine* engine = nxSession.ServerEngine())
    engine->Close();
  nxRemoteServerEngine.SetEnabled(false);
}

void TnxDbEng::nxWinsockTransportChooseServer(TnxBaseTransport& /*aSender*/,
                                              const std::vector<std::string>& aServerNames,
                                              std::string& aServerName, bool& aResult) {
  aResult = SelectServer(aServerNames, aServerName);
}

bool TnxDbEng::SelectServer(const std::vector<std::string>& names, std::string& serverName) {
  serverName.clear();
  if (!chooser_)
    return false;
  std::string chosen;
  if (!chooser_->SelectServer(names, chosen))
    return false;
  serverName = chosen;
  return true;
}

}  // namespace vantera
