// Sample data for trying the system: customers and their cards with Finnish names and
// addresses (Windows-1252), no fingerprints.
#pragma once

#include <string>

namespace vantera {

// Fills ASIAKAS and KORTTI of the folder when both are empty; returns the number of
// customers added (0 when there was data already).
int FillDemoData(const std::string& folder);

}  // namespace vantera
