#include "server/engine_dispatcher.h"

#include <stdexcept>

#include "protocol/nxllException.h"
#include "server/engine/data_folder.h"
#include "server/engine/demo_data.h"

namespace vantera {

DispatchReply EngineDispatcher::HandleRequest(const ServerSession& session, uint32_t messageId,
                                              std::string_view payload) {
  EngineReply reply = engine_.Dispatch(session.sessionId, messageId, payload);
  return DispatchReply{reply.code, std::move(reply.data)};
}

void EngineDispatcher::SessionOpened(const ServerSession& session) {
  engine_.OpenSession(session.sessionId);
}

void EngineDispatcher::SessionClosed(const ServerSession& session) {
  engine_.CloseSession(session.sessionId);
}

EngineOptions EngineOptionsFrom(const ServerOptions& options) {
  EngineOptions e;
  if (options.storage == "postgresql") {
    e.storage = StorageKind::kPostgresql;
    e.pg = {options.pgConnInfo, options.pgPasswordFile};
    e.aliases.push_back({"Tarvola", "tarvola"});
  } else if (!options.dataDir.empty()) {
    e.aliases.push_back({"Tarvola", options.dataDir});
  }
  for (const std::string& a : options.aliases) {
    size_t eq = a.find('=');
    e.aliases.push_back({a.substr(0, eq), a.substr(eq + 1)});
  }
  e.string_type = options.stringType == "null" ? nxtNullString : nxtShortString;
  e.max_blob_size = static_cast<int64_t>(options.maxBlobSize);
  return e;
}

std::unique_ptr<RequestDispatcher> MakeEngineDispatcher(const ServerOptions& options,
                                                        ServerLog& log) {
  EngineOptions e = EngineOptionsFrom(options);
  if (e.aliases.empty()) {
    log.Line(
        "no data folder given (--data or --alias): no database engine, every request "
        "is answered with 12289");
    return std::make_unique<UnsupportedDispatcher>();
  }
  for (const AliasFolder& a : e.aliases) {
    try {
      FolderReport r = PrepareLocation(e, a.folder);
      std::string line = "alias \"" + a.name +
                         "\": " + (e.storage == StorageKind::kPostgresql ? "schema " : "") +
                         a.folder;
      if (r.created_tables)
        line += ", new: tables ASIAKAS, KORTTI, ASSORMI created";
      if (r.orphan_blobs_removed > 0)
        line += ", " + std::to_string(r.orphan_blobs_removed) + " unreferenced blobs removed";
      log.Line(line);
      if (options.demoData) {
        int n = FillDemoData(e, a.folder);
        if (n > 0)
          log.Line("alias \"" + a.name + "\": demo data: " + std::to_string(n) +
                   " customers with their cards");
      }
    } catch (const EnxBaseException& ex) {
      throw std::runtime_error(
          (e.storage == StorageKind::kPostgresql ? "schema " : "data folder ") + a.folder + ": " +
          ex.what());
    }
  }
  return std::make_unique<EngineDispatcher>(std::move(e));
}

}  // namespace vantera
