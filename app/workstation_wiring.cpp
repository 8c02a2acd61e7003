#include "app/workstation_wiring.h"

#include "app/Main.h"
#include "app/fingerprint_link.h"
#include "app/message_link.h"
#include "dbclient/nxDbEngModule.h"

namespace vantera {
namespace {

// The connection module serves the TCP/IP engine kinds (0 and 1). For the kinds whose
// transports are not built yet (named pipe, COM) the database steps stay step-only, so the
// window still runs its whole order; the workflows then report the unbound tables.
class ServedKindsDatabase : public TnxDbEngModule {
 public:
  void OpenConnection(uint32_t kind, const std::string& alias) override {
    served_ = kind <= 1;
    if (served_)
      TnxDbEngModule::OpenConnection(kind, alias);
  }
  void OpenSession() override {
    if (served_)
      TnxDbEngModule::OpenSession();
  }
  void CloseConnection(int32_t kind) override {
    if (served_)
      TnxDbEngModule::CloseConnection(kind);
  }

 private:
  bool served_ = false;
};

}  // namespace

WorkstationParts MakeWorkstationParts(TfrmVantera& window, const CommandLine& /*command*/) {
  WorkstationParts parts;
  parts.database = std::make_unique<ServedKindsDatabase>();
  parts.messages = std::make_unique<WorkstationMessageLink>(window);
  parts.fingerprint = std::make_unique<WorkstationFingerprints>(window, std::string());
  return parts;
}

}  // namespace vantera
