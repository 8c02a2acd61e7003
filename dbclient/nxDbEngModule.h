// The connection module as the main window's database part: CreateDbEngine makes nxDbEng,
// the settings go into its connection values, OpenConnection wires the chain,
// OpenSession opens nxSession (a refused login or an unreachable server raises the
// database error that the start-up error box shows), CloseConnection and ReleaseDbEngine
// take it down at exit.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/workstation_parts.h"
#include "dbclient/nxDbEngine.h"

namespace vantera {

class TnxDbEngModule : public DatabaseModule {
 public:
  void CreateDbEngine() override;
  void StoreConnectionValues(const DbConnectionValues& values) override;
  void OpenConnection(uint32_t kind, const std::string& alias) override;
  void OpenSession() override;
  void CloseConnection(int32_t kind) override;
  void ReleaseDbEngine() override;

  // The server-selection dialog for nxDbEng (not owned); set before start-up.
  void SetServerChooser(ServerChooser* chooser) { chooser_ = chooser; }
  // Where the line of each reconnect of nxSession goes (the activity log); set before
  // start-up.
  void SetReconnectLog(std::function<void(const std::string& line)> log) {
    reconnect_log_ = std::move(log);
  }

  // nxDbEng while it exists (the tables of the workflows use its nxDatabase).
  TnxDbEng* DbEng() const { return eng_.get(); }

 private:
  TnxDbEng& Eng();
  std::unique_ptr<TnxDbEng> eng_;
  ServerChooser* chooser_ = nullptr;
  std::function<void(const std::string& line)> reconnect_log_;
};

}  // namespace vantera
