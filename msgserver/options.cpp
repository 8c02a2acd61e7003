#include "msgserver/options.h"

#include <chrono>
#include <stdexcept>

namespace vantera {
namespace {

unsigned long ParseNumber(const std::string& option, const std::string& text, unsigned long max) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    throw std::invalid_argument(option + " needs a number, not '" + text + "'");
  unsigned long v = std::stoul(text);
  if (v > max)
    throw std::invalid_argument(option + " is at most " + std::to_string(max));
  return v;
}

}  // namespace

const char kMsgServerUsage[] =
    "Usage: vantera-msgserver [options]\n"
    "\n"
    "The message server of the Vantera card system. Every connection is sent \"Login:\";\n"
    "a client logs in with an enciphered login line (password QXVKM) under its own name,\n"
    "and every further line is forwarded, unchanged, to the client whose name is in the\n"
    "line's recipient field. Lines for \"-\" (pings) stay with the server. Every line is\n"
    "logged in plain text on stderr. Stops cleanly on SIGTERM or SIGINT.\n"
    "\n"
    "Options:\n"
    "  --listen HOST:PORT   address to listen on (default 127.0.0.1:40201; port 0 picks a\n"
    "                       free port, shown in the \"listening on\" log line)\n"
    "  --max-line BYTES     longest line a client may send (default 1024)\n"
    "  --max-rate LINES     lines per second one client may send, 0 for no limit\n"
    "                       (default 100000)\n"
    "  --clients FILE       bind client names to addresses: one 'NAME ADDRESS[/PREFIX]\n"
    "                       [log]' a line ('#' comments, blank lines allowed). A bound\n"
    "                       name may log in only from its addresses; only names marked\n"
    "                       'log' may send log commands (GetLog, ShowLog, ClearLog) to\n"
    "                       other clients. Without it every name is free (a warning is\n"
    "                       logged at start)\n"
    "  --login-timeout SECONDS\n"
    "                       a connection that has not logged in by then is closed\n"
    "                       (default 10)\n"
    "  --max-per-address N  connections from one source address; more are refused\n"
    "                       (default 32, 0 for no limit)\n"
    "  --quiet              do not log every routed line\n"
    "  --help               show this text\n"
    "\n"
    "A client that sends garbage, an overlong line, too many lines, a wrong login, or that\n"
    "stops reading its lines is dropped; the others are not affected. A login under a\n"
    "name that is logged in already takes the name over and closes the older connection\n"
    "(with --clients only from the name's own addresses). A line whose sender field is\n"
    "not the login name of its connection is not routed, and logged.\n"
    "\n"
    "Exit status: 0 after a clean stop, 1 when the server cannot start, 2 on a bad\n"
    "command line.\n";

void ParseHostPort(const std::string& text, std::string* host, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0)
    throw std::invalid_argument("--listen needs HOST:PORT, not '" + text + "'");
  *host = text.substr(0, colon);
  *port = static_cast<uint16_t>(ParseNumber("the port", text.substr(colon + 1), 65535));
}

MsgServerCommand ParseMsgServerCommand(const std::vector<std::string>& args) {
  MsgServerCommand cmd;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size())
        throw std::invalid_argument(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      cmd.help = true;
    } else if (a == "--listen") {
      ParseHostPort(value(), &cmd.router.host, &cmd.router.port);
    } else if (a == "--max-line") {
      cmd.router.max_line = ParseNumber(a, value(), 1 << 20);
      if (cmd.router.max_line == 0)
        throw std::invalid_argument("--max-line is at least 1");
    } else if (a == "--max-rate") {
      cmd.router.max_rate = static_cast<uint32_t>(ParseNumber(a, value(), 100000000));
    } else if (a == "--clients") {
      cmd.clients_file = value();
      if (cmd.clients_file.empty())
        throw std::invalid_argument("--clients needs a file name");
    } else if (a == "--login-timeout") {
      auto seconds = ParseNumber(a, value(), 3600);
      if (seconds == 0)
        throw std::invalid_argument("--login-timeout is at least 1");
      cmd.router.login_timeout = std::chrono::seconds(seconds);
    } else if (a == "--max-per-address") {
      cmd.router.max_per_address = ParseNumber(a, value(), 100000);
    } else if (a == "--quiet") {
      cmd.router.log_lines = false;
    } else {
      throw std::invalid_argument("unknown option '" + a + "'");
    }
  }
  return cmd;
}

void LoadClients(MsgServerCommand* cmd) {
  if (cmd->clients_file.empty())
    return;
  cmd->router.clients = ClientList::Load(cmd->clients_file);
  cmd->router.clients_origin = cmd->clients_file;
}

}  // namespace vantera
