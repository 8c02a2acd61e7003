// The server's database engine on a private data folder that holds the workstation's
// tables with the demo data, for the fuzz targets that need real storage. The folder is
// removed with the object; Renew() starts again on a fresh one.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "server/engine/data_folder.h"
#include "server/engine/demo_data.h"
#include "server/engine/server_engine.h"

namespace vantera {

class DemoEngine {
 public:
  // `name` names the folder; `options` get the alias "Tarvola" for it, no durability.
  DemoEngine(std::string name, EngineOptions options)
      : name_(std::move(name)), options_(std::move(options)) {
    Renew();
  }
  ~DemoEngine() { Remove(); }
  DemoEngine(const DemoEngine&) = delete;
  DemoEngine& operator=(const DemoEngine&) = delete;

  ServerEngine& engine() { return *engine_; }

  void Renew() {
    Remove();
    std::string templ =
        (std::filesystem::temp_directory_path() / ("fuzz-" + name_ + "-XXXXXX")).string();
    if (!::mkdtemp(templ.data()))
      abort();
    folder_ = templ;
    PrepareDataFolder(folder_, nxtShortString);
    FillDemoData(folder_);
    EngineOptions options = options_;
    options.aliases.push_back({"Tarvola", folder_});
    options.durable = false;
    engine_ = std::make_unique<ServerEngine>(std::move(options));
  }

 private:
  void Remove() {
    engine_.reset();
    std::error_code ec;
    if (!folder_.empty())
      std::filesystem::remove_all(folder_, ec);
    folder_.clear();
  }

  std::string name_;
  EngineOptions options_;
  std::string folder_;
  std::unique_ptr<ServerEngine> engine_;
};

}  // namespace vantera
