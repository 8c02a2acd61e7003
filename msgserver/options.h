// Command line of vantera-msgserver.
#pragma once

#include <string>
#include <vector>

#include "msgserver/msg_router.h"

namespace vantera {

struct MsgServerCommand {
  MsgRouterOptions router;
  std::string clients_file;  // --clients; read by LoadClients
  bool help = false;
};

// Throws std::invalid_argument with a one-line reason on a bad command line.
MsgServerCommand ParseMsgServerCommand(const std::vector<std::string>& args);

// "HOST:PORT" -> host and port; throws std::invalid_argument.
void ParseHostPort(const std::string& text, std::string* host, uint16_t* port);

// Reads cmd->clients_file, when given, into cmd->router.clients; throws
// std::runtime_error "FILE:LINE: reason" for a malformed file.
void LoadClients(MsgServerCommand* cmd);

extern const char kMsgServerUsage[];

}  // namespace vantera
