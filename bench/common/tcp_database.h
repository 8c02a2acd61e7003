// The workstation's road to a kantadb-server on loopback TCP, as the benchmarks use it: the
// transport, the remote engine, the session and the database of the alias "Tarvola", wired
// in that order. Opening the database (or a table of it) starts the chain.
#pragma once

#include <cstdint>

#include "dbclient/nxdb.h"
#include "dbconn/nxtwWinsockTransport.h"

namespace vantera::bench {

struct TcpDatabase {
  explicit TcpDatabase(uint16_t port) {
    transport.SetServerNameRuntime("127.0.0.1");
    transport.SetPort(port);
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Tarvola");
  }
  uint64_t Sent() { return transport.Statistics().messagesSent; }

  TnxWinsockTransport transport{"nxWinsockTransport"};
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};
};

}  // namespace vantera::bench
