#include "app/command_line.h"

#include <charconv>
#include <ostream>
#include <string_view>

#include "app/transport_key.h"
#include "app/version.h"
#include "core/win1252.h"

namespace vantera {
namespace {

constexpr int kMaxQuitAfterMs = 24 * 60 * 60 * 1000;

bool SetMode(CommandLine& c, CommandLine::Mode mode, std::string_view option) {
  if (c.mode != CommandLine::kRunWindow && c.mode != mode) {
    c.mode = CommandLine::kError;
    c.error = std::string(option) + " cannot be combined with another command";
    return false;
  }
  c.mode = mode;
  return true;
}

std::string Display(const std::string& text) {
  return Win1252ToUtf8(text);
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine c;
  bool help = false;
  for (int i = 1; i < argc && c.mode != CommandLine::kError; ++i) {
    std::string_view arg = argv[i];
    std::string_view name = arg;
    std::string_view inline_value;
    bool has_inline = false;
    if (size_t eq = arg.find('='); arg.substr(0, 2) == "--" && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
      has_inline = true;
    }
    auto value = [&](std::string& out) {
      if (has_inline) {
        out = inline_value;
        return true;
      }
      if (i + 1 >= argc) {
        c.mode = CommandLine::kError;
        c.error = std::string(name) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string text;
    if (name == "--help" || name == "-h") {
      help = true;
    } else if (name == "--version") {
      SetMode(c, CommandLine::kVersion, name);
    } else if (name == "--print-settings") {
      SetMode(c, CommandLine::kPrintSettings, name);
    } else if (name == "--list-readers") {
      SetMode(c, CommandLine::kListReaders, name);
    } else if (name == "--reader-trace") {
      c.reader_trace = true;
    } else if (name == "--encode-key") {
      if (value(c.key_text))
        SetMode(c, CommandLine::kEncodeKey, name);
    } else if (name == "--ini") {
      if (value(c.ini_path) && c.ini_path.empty()) {
        c.mode = CommandLine::kError;
        c.error = "--ini needs a file name";
      }
    } else if (name == "--screenshot") {
      value(c.screenshot_path);
    } else if (name == "--demo-enrol") {
      value(c.demo_enrol_card);
    } else if (name == "--log-file") {
      value(c.log_file);
    } else if (name == "--tab-shots") {
      value(c.shots_prefix);
    } else if (name == "--quit-after") {
      if (value(text)) {
        int ms = -1;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
        if (error != std::errc() || end != text.data() + text.size() || ms < 0 ||
            ms > kMaxQuitAfterMs) {
          c.mode = CommandLine::kError;
          c.error = "--quit-after needs a number of milliseconds";
        } else {
          c.quit_after_ms = ms;
        }
      }
    } else {
      c.mode = CommandLine::kError;
      c.error = "unknown option " + std::string(arg);
    }
  }
  if (help && c.mode != CommandLine::kError)
    c.mode = CommandLine::kHelp;
  if (c.mode == CommandLine::kRunWindow && !c.screenshot_path.empty() && c.quit_after_ms < 0)
    c.quit_after_ms = 500;
  return c;
}

std::string HelpText() {
  return "Usage: vantera [options]\n"
         "The Vantera fingerprint workstation. Without options it opens its window.\n"
         "\n"
         "Options:\n"
         "  --ini PATH          read the settings from PATH instead of the file Tarvola.ini\n"
         "                      beside the program (the path is cut to 64 characters)\n"
         "  --print-settings    print the effective settings and exit\n"
         "  --encode-key TEXT   print the value of the Key setting that holds TEXT\n"
         "  --list-readers      list the fingerprint readers libfprint sees and exit\n"
         "  --version           print the version and exit\n"
         "  --help              print this help and exit\n"
         "\n"
         "See docs/settings.md for the settings file.\n";
}

std::string EffectiveSettingsPath(const CommandLine& command) {
  return command.ini_path.empty() ? SettingsFilePath() : Str64(command.ini_path).str();
}

void PrintSettings(const Settings& s, const std::string& path, std::ostream& out) {
  out << "SettingsFile = " << path << "\n";
  out << "DataBase.Alias = " << Display(s.alias) << "\n";
  out << "DataBase.Engine = " << s.engine_kind << "\n";
  out << "DataBase.ServerName = " << Display(s.db.ServerName) << "\n";
  out << "DataBase.ServerAddress = " << Display(s.db.ServerAddress) << "\n";
  out << "DataBase.Port = " << s.db.Port << "\n";
  out << "DataBase.CompressLimit = " << s.db.CompressLimit << "\n";
  out << "DataBase.SecuredTransport = " << (s.db.SecuredTransport ? "YES" : "NO") << "\n";
  out << "DataBase.Key = " << (s.db.key_from_file ? "******** (set)" : "(placeholder)") << "\n";
  out << "MessageSrv.ServerAddress = " << Display(s.msg_server_address) << "\n";
  out << "MessageSrv.ServerPort = " << Display(s.msg_server_port) << "\n";
  out << "ClientName = " << Display(s.client_name) << "\n";
  out << "MessageSrv.PingTime = " << s.ping_time << "\n";
  out << "MessageSrv.MessageMaxAge = " << s.message_max_age << "\n";
  out << "Lukija.Laite = " << Display(s.reader_device) << "\n";
}

int RunCommand(const CommandLine& command, std::ostream& out, std::ostream& err,
               const ReaderLister& list_readers) {
  switch (command.mode) {
    case CommandLine::kHelp:
      out << HelpText();
      return 0;
    case CommandLine::kVersion:
      out << "Vantera " << VersionText() << "\n";
      return 0;
    case CommandLine::kPrintSettings: {
      std::string path = EffectiveSettingsPath(command);
      PrintSettings(ReadSettings(path), path, out);
      return 0;
    }
    case CommandLine::kEncodeKey: {
      const std::string& text = command.key_text;
      std::string key = IsValidUtf8(text) ? Utf8ToWin1252(text) : text;
      if (std::optional<std::string> encoded = EncodeTransportKey(key)) {
        out << *encoded << "\n";
        return 0;
      }
      err << "vantera: a key must have 1 to " << kTransportKeyMax
          << " characters and no NUL byte\n";
      return 2;
    }
    case CommandLine::kListReaders:
      if (!list_readers) {
        err << "vantera: this program cannot list readers\n";
        return 2;
      }
      return list_readers(out);
    case CommandLine::kError:
      err << "vantera: " << command.error << " (try --help)\n";
      return 2;
    case CommandLine::kRunWindow:
      break;
  }
  return 0;
}

}  // namespace vantera
