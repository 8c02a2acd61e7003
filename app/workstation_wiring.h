// Where the working parts of the workstation are made and joined to the main window.
#pragma once

#include "app/command_line.h"
#include "app/workstation_parts.h"

namespace vantera {

class TfrmVantera;

// The parts that the window starts and stops; the window exists, start-up has not run.
WorkstationParts MakeWorkstationParts(TfrmVantera& window, const CommandLine& command);

}  // namespace vantera
