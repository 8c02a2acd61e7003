// Command line of vantera-cardpoint.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vantera {

struct CardpointCommand {
  enum class Action { kHelp, kPresent, kLog };
  Action action = Action::kHelp;
  std::string host = "127.0.0.1";
  uint16_t port = 40201;
  std::string name = "Kassa01";  // this card point's client name (Windows-1252)
  std::string to;                // the workstation's client name
  std::string card;              // present: the card short number
  std::string text = "Kortti";   // present: the message text (field 5)
  std::string message_no = "1";  // present: the message number (field 4)
  std::string eta_no;            // present: remote number (field 7)
  std::string silta_srv;         // present: bridge server (field 8)
  std::string command;           // log: GetLog, ShowLog or ClearLog
  std::string argument;          // log: "On" or "Off" for ShowLog
  int timeout_s = 30;            // present: wait for the OK reply; log: overall limit
  int quiet_ms = 1000;           // log: stop after this long without a new line
};

// Throws std::invalid_argument with a one-line reason.
CardpointCommand ParseCardpointCommand(const std::vector<std::string>& args);

// The card message (nine fields) and the log command lines the card point sends.
std::string BuildCardMessage(const CardpointCommand& cmd);
std::string BuildLogCommand(const CardpointCommand& cmd);

// The deadlines of the card point's waits, from --timeout and --quiet-ms as given.
using CardpointClock = std::chrono::steady_clock;
// present: the end of the wait for the OK reply; log: the end of the whole command.
CardpointClock::time_point CommandDeadline(const CardpointCommand& cmd,
                                           CardpointClock::time_point start);
// log: the end of the wait for the next line, --quiet-ms from now but not after `end`.
CardpointClock::time_point NextLogLineDeadline(const CardpointCommand& cmd,
                                               CardpointClock::time_point now,
                                               CardpointClock::time_point end);

extern const char kCardpointUsage[];

}  // namespace vantera
