// What the hidden demo options of the workstation do (used by scripts/demo and the
// end-to-end test): enrol a finger for a given card without the search dialog, and leave
// a record of the run (the activity log and a picture of each tab) when the window closes.
#pragma once

#include <string>

namespace vantera {

class TfrmVantera;
struct CommandLine;

// After a successful start-up: fills "Rekisteröinti" as the card search would for
// card_number, starts the enrolment control, and presses "Talleta" once the enrolment
// is complete (checked every 100 ms).
void StartDemoEnrolment(TfrmVantera& window, const std::string& card_number);

// Writes the activity log to command.log_file and one screenshot per tab to
// command.shots_prefix-N.png, for the options that are given. Reports failures on stderr.
void SaveDemoRecord(TfrmVantera& window, const CommandLine& command);

}  // namespace vantera
