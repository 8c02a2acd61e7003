// The request dispatcher of kantadb-server: the transport half hands every request of a
// session to the database engine (server/engine), which runs it and answers it.
#pragma once

#include <memory>

#include "server/engine/server_engine.h"
#include "server/request_dispatcher.h"
#include "server/server_log.h"
#include "server/server_options.h"

namespace vantera {

class EngineDispatcher : public RequestDispatcher {
 public:
  explicit EngineDispatcher(EngineOptions options) : engine_(std::move(options)) {}

  DispatchReply HandleRequest(const ServerSession& session, uint32_t messageId,
                              std::string_view payload) override;
  void SessionOpened(const ServerSession& session) override;
  void SessionClosed(const ServerSession& session) override;

  ServerEngine& engine() { return engine_; }

 private:
  ServerEngine engine_;
};

// The engine's options from the command line: --data DIR is the alias "Tarvola", each
// --alias NAME=DIR one more. Throws std::invalid_argument for a bad alias.
EngineOptions EngineOptionsFrom(const ServerOptions& options);

// Without any data folder there is nothing to serve: every request answers 12289.
// Otherwise prepares every alias's data folder (the workstation's tables in a new one, demo data
// when asked, removal of blobs no record refers to), logs what it did and returns the
// dispatcher. Throws std::runtime_error when a folder cannot be used.
std::unique_ptr<RequestDispatcher> MakeEngineDispatcher(const ServerOptions& options,
                                                        ServerLog& log);

}  // namespace vantera
