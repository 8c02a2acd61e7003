#include "app/workstation_wiring.h"

#include "app/Main.h"
#include "app/server_selection.h"
#include "dbclient/nxDbEngModule.h"

namespace vantera {

namespace {

// The connection module with the server-selection dialog as its chooser.
class WorkstationDatabase : public TnxDbEngModule {
 public:
  WorkstationDatabase() { SetServerChooser(&chooser_); }

 private:
  DialogServerChooser chooser_;
};

}  // namespace

// The database part is the connection module; the other parts are still the step-only
// base: start-up and shut-down run in full order and their steps do nothing.
WorkstationParts MakeWorkstationParts(TfrmVantera& /*window*/, const CommandLine& /*command*/) {
  WorkstationParts parts;
  parts.database = std::make_unique<WorkstationDatabase>();
  return parts;
}

}  // namespace vantera
