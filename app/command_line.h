// The command line of vantera and the commands that run without the window.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "app/Profil.h"

namespace vantera {

struct CommandLine {
  enum Mode { kRunWindow, kHelp, kVersion, kPrintSettings, kEncodeKey, kListReaders, kError };
  Mode mode = kRunWindow;
  std::string ini_path;         // --ini: the settings file instead of the one beside the program
  std::string key_text;         // --encode-key TEXT (as given, UTF-8)
  std::string screenshot_path;  // --screenshot FILE: saved just before quitting
  int quit_after_ms = -1;       // --quit-after MS: close the window after MS; -1 never
  // Hidden options for demos and end-to-end tests (not in --help):
  std::string demo_enrol_card;  // --demo-enrol CARD: enrol a finger for CARD at start-up
  std::string log_file;         // --log-file FILE: the activity log, written at closing
  std::string shots_prefix;     // --tab-shots PREFIX: PREFIX-1.png, -2.png of each tab
  bool reader_trace = false;    // --reader-trace: a stderr line each time the reader waits
  std::string error;            // why the command line was refused (mode kError)
};

// Accepts "--name VALUE" and "--name=VALUE". Unknown options, missing values and two
// different commands give kError with a message.
CommandLine ParseCommandLine(int argc, const char* const* argv);

std::string HelpText();

// One "Key = value" line per effective setting, texts in UTF-8, the transport key masked.
void PrintSettings(const Settings& settings, const std::string& path, std::ostream& out);

// Lists the fingerprint readers on out; returns the exit code.
using ReaderLister = std::function<int(std::ostream& out)>;

// Runs kHelp, kVersion, kPrintSettings, kEncodeKey, kListReaders (through list_readers) and
// kError; returns the exit code (0 success, 2 a refused command line or a key that cannot be
// encoded).
int RunCommand(const CommandLine& command, std::ostream& out, std::ostream& err,
               const ReaderLister& list_readers = {});

// The settings file the program reads: --ini when given, else the one beside the program.
std::string EffectiveSettingsPath(const CommandLine& command);

}  // namespace vantera
