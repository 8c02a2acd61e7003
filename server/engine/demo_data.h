// Sample data for trying the system: customers and their cards with Finnish names and
// addresses (Windows-1252), no fingerprints.
#pragma once

#include <string>

#include "server/engine/engine_options.h"

namespace vantera {

// Fills ASIAKAS and KORTTI of the folder when both are empty; returns the number of
// customers added (0 when there was data already).
int FillDemoData(const std::string& folder);
// The same for the location of an alias in the options' storage.
int FillDemoData(const EngineOptions& storage, const std::string& location);

}  // namespace vantera
