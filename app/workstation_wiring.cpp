#include "app/workstation_wiring.h"

#include "app/Main.h"

namespace vantera {

// Every part is the step-only base for now: start-up and shut-down run in full order and
// each step that belongs to a missing part does nothing.
WorkstationParts MakeWorkstationParts(TfrmVantera& /*window*/, const CommandLine& /*command*/) {
  return WorkstationParts{};
}

}  // namespace vantera
