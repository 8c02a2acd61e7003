// kantadb-server: the database server program.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/runtime_dir.h"
#include "server/account_store.h"
#include "server/dispatcher_factory.h"
#include "server/engine/folder_lock.h"
#include "server/engine/storage.h"
#include "server/engine/storage_copy.h"
#include "server/engine/table_csv.h"
#include "server/engine_dispatcher.h"
#include "server/local_transports.h"
#include "server/server_options.h"
#include "server/tcp_server.h"
#include "server/tunnel_dispatcher.h"

using namespace vantera;

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "import" || std::string(argv[1]) == "export"))
    return RunDataCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
  if (argc > 1 && std::string(argv[1]) == "copy")
    return RunCopyCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
  ServerOptions options;
  try {
    options = ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "kantadb-server: " << e.what() << "\n";
    return 2;
  }
  if (options.help) {
    std::cout << ServerUsage();
    return 0;
  }

  // SIGTERM and SIGINT are taken by sigwait below, in this thread only.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ServerLog log(stderr);
  SetStoreFailureLog([&log](const std::string& line) { log.Line(line); });
  try {
    // One server per data folder, taken before anything in the folders is touched. On
    // PostgreSQL any number of servers share the database.
    std::vector<std::string> folders;
    EngineOptions engineOptions = EngineOptionsFrom(options);
    if (engineOptions.storage == StorageKind::kSqlite)
      for (const AliasFolder& a : engineOptions.aliases)
        folders.push_back(a.folder);
    std::vector<FolderLock> folderLocks = LockDataFolders(folders);
    EnsureRuntimeDir(RuntimeDir(options.runtimeDir));
    AccountStore accounts =
        options.usersFile.empty() ? AccountStore() : AccountStore::FromFile(options.usersFile);
    std::unique_ptr<RequestDispatcher> dispatcher = MakeRequestDispatcher(options, log);
    if (options.tunnel)
      dispatcher = WrapWithTunnel(std::move(dispatcher), accounts, options.tunnelKey, log);
    TransportLimits limits;
    limits.maxHeartbeat = std::chrono::seconds(options.maxHeartbeatSeconds);
    limits.noSessionTimeout = std::chrono::milliseconds(options.noSessionTimeoutMs);
    TransportRegistry registry(limits);
    LoginChecker login;
    ServerContext context{registry, *dispatcher, accounts, login, log};
    context.maxFrameLength = options.maxFrameLength;
    context.trace = options.trace;

    TcpServerOptions tcp;
    tcp.host = options.host;
    tcp.port = options.port;
    tcp.serverName = options.name;
    tcp.discovery = options.discovery;
    tcp.handshakeTimeoutMs = options.handshakeTimeoutMs;
    tcp.frameTimeoutMs = options.frameTimeoutMs;
    tcp.maxConnections = options.maxConnections;
    tcp.maxPerAddress = options.maxPerAddress;
    tcp.tunnelOnly = options.tunnelOnly;
    TcpServer server(context, tcp);
    server.Start();
    // The local transports are ready before the server reports itself ready.
    LocalTransports local(context, options, server.Port());
    if (options.localTransports)
      local.Start();
    if (options.tunnelOnly)
      log.Line("plain sessions refused over TCP: only the encrypted tunnel is served");
    std::printf("listening on %s:%u\n", options.host.c_str(), server.Port());
    std::fflush(stdout);
    log.Line("server \"" + options.name + "\" listening on " + options.host + ":" +
             std::to_string(server.Port()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    log.Line(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
    local.Stop();
    server.Stop();
    log.Line("stopped");
  } catch (const std::exception& e) {
    log.Line(std::string("cannot start: ") + e.what());
    SetStoreFailureLog(nullptr);
    return 1;
  }
  SetStoreFailureLog(nullptr);
  return 0;
}
