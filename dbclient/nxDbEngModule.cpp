#include "dbclient/nxDbEngModule.h"

namespace vantera {

TnxDbEng& TnxDbEngModule::Eng() {
  if (!eng_) {
    eng_ = std::make_unique<TnxDbEng>();
    eng_->SetServerChooser(chooser_);
    eng_->nxSession.OnReconnect = reconnect_log_;
  }
  return *eng_;
}

void TnxDbEngModule::CreateDbEngine() {
  Eng();
}

void TnxDbEngModule::StoreConnectionValues(const DbConnectionValues& values) {
  TnxDbConnectionValues& v = Eng().Values;
  v.ServerName = values.ServerName;
  v.ServerAddress = values.ServerAddress;
  v.Port = values.Port;
  v.CompressLimit = values.CompressLimit;
  v.SecuredTransport = values.SecuredTransport;
  v.Key = values.Key;
}

void TnxDbEngModule::OpenConnection(uint32_t kind, const std::string& alias) {
  Eng().OpenConnection(kind, alias);
}

void TnxDbEngModule::OpenSession() {
  Eng().nxSession.Open();
}

void TnxDbEngModule::CloseConnection(int32_t kind) {
  if (eng_)
    eng_->CloseConnection(kind);
}

void TnxDbEngModule::ReleaseDbEngine() {
  eng_.reset();
}

}  // namespace vantera
