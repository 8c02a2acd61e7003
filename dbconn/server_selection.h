// How the connection module asks the user to pick one of several servers found by
// discovery. The dialog itself belongs to the window layer (app/server_selection.h); this
// interface keeps the database layers free of any user interface.
#pragma once

#include <string>
#include <vector>

namespace vantera {

class ServerChooser {
 public:
  virtual ~ServerChooser() = default;
  // Shows the choice modally. True with `serverName` set to the chosen line when the user
  // confirmed a server; false with `serverName` empty otherwise.
  virtual bool SelectServer(const std::vector<std::string>& names, std::string& serverName) = 0;
};

}  // namespace vantera
