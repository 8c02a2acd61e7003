#include "app/workstation_wiring.h"

#include "app/Main.h"
#include "app/message_link.h"

namespace vantera {

// Parts not built yet stay the step-only base: their steps do nothing.
WorkstationParts MakeWorkstationParts(TfrmVantera& window, const CommandLine& /*command*/) {
  WorkstationParts parts;
  parts.messages = std::make_unique<WorkstationMessageLink>(window);
  return parts;
}

}  // namespace vantera
