#include "tools/cardpoint/cardpoint_command.h"

#include <stdexcept>

#include "core/win1252.h"
#include "msglink/Wdef.h"

namespace vantera {
namespace {

int ParseSeconds(const std::string& option, const std::string& text, int max) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    throw std::invalid_argument(option + " needs a number, not '" + text + "'");
  int v = std::stoi(text);
  if (v > max)
    throw std::invalid_argument(option + " is at most " + std::to_string(max));
  return v;
}

// A field value must not carry the separator or a line break.
std::string Field(const std::string& option, const std::string& utf8) {
  std::string text = Utf8ToWin1252(utf8);
  if (text.find_first_of("^\r\n") != std::string::npos)
    throw std::invalid_argument(option + " must not contain '^' or a line break");
  return text;
}

}  // namespace

const char kCardpointUsage[] =
    "Usage: vantera-cardpoint [options] present CARD --to WORKSTATION\n"
    "       vantera-cardpoint [options] log GetLog|ShowLog On|ShowLog Off|ClearLog --to "
    "WORKSTATION\n"
    "\n"
    "A card presentation point of the Vantera card system. It logs into the message server\n"
    "under its own name and talks to one workstation through it.\n"
    "\n"
    "  present CARD   sends a card message (\"Crd\") for the card short number CARD and\n"
    "                 waits for the workstation's OK reply, which is printed field by field\n"
    "  log COMMAND    sends a log command; GetLog prints the activity log lines that come\n"
    "                 back, ShowLog On|Off switches the workstation's message display,\n"
    "                 ClearLog empties its activity log\n"
    "\n"
    "Options:\n"
    "  --server HOST:PORT  the message server (default 127.0.0.1:40201)\n"
    "  --name NAME         this card point's name (default Kassa01)\n"
    "  --to WORKSTATION    the workstation's name, e.g. Vantera01 (required)\n"
    "  --text TEXT         present: message text (default Kortti)\n"
    "  --message-no N      present: message number (default 1)\n"
    "  --eta-no TEXT       present: remote number (default empty)\n"
    "  --bridge TEXT       present: bridge server (default empty)\n"
    "  --timeout SECONDS   present: how long to wait for the reply (default 30);\n"
    "                      log: the longest the command runs\n"
    "  --quiet-ms MS       log: stop once no line came for this long (default 1000)\n"
    "  --help              show this text\n"
    "\n"
    "Exit status: 0 reply received (present) or command sent (log); 1 no reply in time\n"
    "(present, or GetLog without any line); 2 bad command line; 3 cannot reach or log\n"
    "into the message server, or the connection was lost.\n";

CardpointCommand ParseCardpointCommand(const std::vector<std::string>& args) {
  CardpointCommand cmd;
  std::vector<std::string> words;
  bool help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size())
        throw std::invalid_argument(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--server") {
      const std::string& v = value();
      size_t colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0)
        throw std::invalid_argument("--server needs HOST:PORT, not '" + v + "'");
      cmd.host = v.substr(0, colon);
      cmd.port = static_cast<uint16_t>(ParseSeconds("the port", v.substr(colon + 1), 65535));
    } else if (a == "--name") {
      cmd.name = Field(a, value());
    } else if (a == "--to") {
      cmd.to = Field(a, value());
    } else if (a == "--text") {
      cmd.text = Field(a, value());
    } else if (a == "--message-no") {
      cmd.message_no = Field(a, value());
    } else if (a == "--eta-no") {
      cmd.eta_no = Field(a, value());
    } else if (a == "--bridge") {
      cmd.silta_srv = Field(a, value());
    } else if (a == "--timeout") {
      cmd.timeout_s = ParseSeconds(a, value(), 86400);
    } else if (a == "--quiet-ms") {
      cmd.quiet_ms = ParseSeconds(a, value(), 600000);
    } else if (a.size() > 1 && a[0] == '-') {
      throw std::invalid_argument("unknown option '" + a + "'");
    } else {
      words.push_back(a);
    }
  }
  if (help) {
    cmd.action = CardpointCommand::Action::kHelp;
    return cmd;
  }
  if (words.empty())
    throw std::invalid_argument("say present CARD or log COMMAND");
  if (cmd.name.empty())
    throw std::invalid_argument("--name must not be empty");
  if (words[0] == "present") {
    if (words.size() != 2)
      throw std::invalid_argument("present takes one CARD");
    cmd.action = CardpointCommand::Action::kPresent;
    cmd.card = Field("CARD", words[1]);
    if (cmd.card.empty())
      throw std::invalid_argument("CARD must not be empty");
  } else if (words[0] == "log") {
    cmd.action = CardpointCommand::Action::kLog;
    if (words.size() == 2 && (words[1] == "GetLog" || words[1] == "ClearLog")) {
      cmd.command = words[1];
    } else if (words.size() == 3 && words[1] == "ShowLog" &&
               (words[2] == "On" || words[2] == "Off")) {
      cmd.command = words[1];
      cmd.argument = words[2];
    } else {
      throw std::invalid_argument("log takes GetLog, ShowLog On, ShowLog Off or ClearLog");
    }
  } else {
    throw std::invalid_argument("unknown action '" + words[0] + "'");
  }
  if (cmd.to.empty())
    throw std::invalid_argument("--to WORKSTATION is required");
  return cmd;
}

CardpointClock::time_point CommandDeadline(const CardpointCommand& cmd,
                                           CardpointClock::time_point start) {
  return start + std::chrono::seconds(cmd.timeout_s);
}

CardpointClock::time_point NextLogLineDeadline(const CardpointCommand& cmd,
                                               CardpointClock::time_point now,
                                               CardpointClock::time_point end) {
  CardpointClock::time_point quiet = now + std::chrono::milliseconds(cmd.quiet_ms);
  return quiet < end ? quiet : end;
}

std::string BuildCardMessage(const CardpointCommand& cmd) {
  // Fields 6 to 8 ride in field 5, the way the reply carries them back.
  return BuildMsg(kTypeCard, cmd.to, cmd.name, kToServer, cmd.message_no,
                  cmd.text + "^" + cmd.card + "^" + cmd.eta_no + "^" + cmd.silta_srv);
}

std::string BuildLogCommand(const CardpointCommand& cmd) {
  return BuildMsg(kTypeLog, cmd.to, cmd.name, kToServer, kNoMessageNumber,
                  cmd.argument + "^" + cmd.command);
}

}  // namespace vantera
