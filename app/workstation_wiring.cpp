#include "app/workstation_wiring.h"

#include "app/Main.h"
#include "app/command_line.h"
#include "app/fingerprint_link.h"
#include "app/message_link.h"
#include "app/server_selection.h"
#include "dbclient/nxDbEngModule.h"

namespace vantera {
namespace {

// The connection module with the server-selection dialog as its chooser; its reconnects
// are written to the activity log.
class WorkstationDatabase : public TnxDbEngModule {
 public:
  explicit WorkstationDatabase(TfrmVantera& window) {
    SetServerChooser(&chooser_);
    SetReconnectLog([&window](const std::string& line) { window.WriteLog(line, true); });
  }

 private:
  DialogServerChooser chooser_;
};

}  // namespace

WorkstationParts MakeWorkstationParts(TfrmVantera& window, const CommandLine& command) {
  WorkstationParts parts;
  parts.database = std::make_unique<WorkstationDatabase>(window);
  parts.messages = std::make_unique<WorkstationMessageLink>(window);
  parts.fingerprint =
      std::make_unique<WorkstationFingerprints>(window, std::string(), command.reader_trace);
  return parts;
}

}  // namespace vantera
