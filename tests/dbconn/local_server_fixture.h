// An in-process kantadb-server half for the local transport tests: a private runtime
// folder, the real pipe and registry servers, and a dispatcher that echoes each request
// (message id + 1000 as its error when the payload is "fail").
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "server/frame_handler.h"
#include "server/pipe_server.h"
#include "server/registry_server.h"

namespace vantera::testing {

class EchoDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession&, uint32_t messageId,
                              std::string_view payload) override {
    ++requests;
    DispatchReply r;
    if (payload == "fail")
      r.errorCode = messageId + 1000;
    else
      r.payload = Bytes(payload);
    return r;
  }
  void HandlePost(const ServerSession&, uint32_t, std::string_view payload) override {
    ++posts;
    lastPostSize = payload.size();
  }
  void SessionClosed(const ServerSession&) override { ++closed; }

  std::atomic<int> requests{0};
  std::atomic<int> posts{0};
  std::atomic<size_t> lastPostSize{0};
  std::atomic<int> closed{0};
};

// A private folder, removed with everything in it.
class PrivateFolder {
 public:
  PrivateFolder() {
    char tmpl[] = "/tmp/vantera-localtx-XXXXXX";
    if (!mkdtemp(tmpl))
      throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~PrivateFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The shared state of one in-process server.
struct LocalServerCore {
  TransportRegistry registry;
  EchoDispatcher dispatcher;
  AccountStore accounts;
  LoginChecker login;
  ServerContext context{registry, dispatcher, accounts, login, ServerLog::Null()};
};

// A test with one server half of type `Server` (options `Options`), named "Main" and
// started in a private folder, and a transport of type `Transport` that looks for its
// servers in that folder.
template <class Server, class Options, class Transport>
class LocalServerTest : public ::testing::Test {
 protected:
  explicit LocalServerTest(const std::string& transportName) : transport(transportName) {}

  void SetUp() override {
    server.Start();
    transport.SetRuntimeFolder(folder.Path());
  }

  static Options MainOptions(const std::string& folder) {
    Options o;
    o.runtimeDir = folder;
    o.serverName = "Main";
    return o;
  }

  PrivateFolder folder;
  LocalServerCore core;
  Server server{core.context, MainOptions(folder.Path())};
  Transport transport;
};

}  // namespace vantera::testing
