#include "server/engine/server_database.h"

#include <algorithm>

#include "protocol/nxllException.h"
#include "server/engine/schema_from_dictionary.h"
#include "server/engine/storage_factory.h"

namespace vantera {

ServerDatabase::ServerDatabase(uint32_t id, uint32_t session, const std::string& folder,
                               bool read_only, bool exclusive, int32_t timeout,
                               FolderRegistry& registry, const EngineOptions& options,
                               StoreFaults* faults)
    : id_(id), session_(session), exclusive_(exclusive), timeout_(timeout), options_(options) {
  auto state = registry.Acquire(
      folder, [&options, &folder] { return OpenSharedRecordLocks(options, folder); });
  state->OpenDatabase(exclusive);
  try {
    store_ = OpenStorage(options, folder, read_only, faults);
    store_->SetOrphanSweep(options.orphan_blob_grace_s, options.orphan_sweep_interval_s);
  } catch (...) {
    state->CloseDatabase(exclusive);
    throw;
  }
  folder_ = std::move(state);
  UseTimeout(timeout);
}

ServerDatabase::~ServerDatabase() {
  store_.reset();  // ends any open transaction of the client (rolled back)
  folder_->CloseDatabase(exclusive_);
}

void ServerDatabase::UseTimeout(int32_t milliseconds) {
  // No time-out (0 or less) waits as long as the client's default would.
  constexpr int32_t kDefaultWaitMs = 10000;
  if (milliseconds <= 0)
    milliseconds = kDefaultWaitMs;
  store_->SetBusyTimeout(std::clamp(milliseconds, 1, options_.max_busy_wait_ms));
}

void ServerDatabase::ReleaseAtTransactionEnd(int64_t table, int64_t row, uint32_t cursor) {
  held_to_transaction_end_.push_back({table, row, cursor});
}

void ServerDatabase::TransactionEnded() {
  if (store_->TransactionLevel() > 0)
    return;
  // A lock that its cursor gave up meanwhile (closed, or taken over) is left alone.
  for (const HeldLock& h : held_to_transaction_end_)
    folder_->Unlock(h.table, h.row, h.cursor);
  held_to_transaction_end_.clear();
}

std::shared_ptr<const TableDef> ServerDatabase::Table(std::string_view name) {
  auto stored = store_->FindTable(name);
  if (!stored)
    throw EnxBaseException(10024);  // Table does not exist.
  auto it = tables_.find(stored->id);
  if (it != tables_.end())
    return it->second;
  auto def = std::make_shared<TableDef>();
  def->id = stored->id;
  def->name = stored->name;
  def->schema = SchemaFromDictionaryStream(stored->dictionary);
  def->dictionary = std::move(stored->dictionary);
  if (def->schema.indexes.size() != static_cast<size_t>(stored->index_count))
    throw EnxBaseException(8962);  // the catalog and the dictionary disagree
  tables_.emplace(def->id, def);
  return def;
}

bool ServerDatabase::TableExists(std::string_view name) {
  return store_->FindTable(name).has_value();
}

void ServerDatabase::CreateTable(std::string_view name, const Bytes& dictionary) {
  if (name.empty() || name.size() > 255 || std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\';
      }))
    throw EnxBaseException(10039);  // Invalid table name.
  TableSchema schema = SchemaFromDictionaryStream(dictionary);
  std::vector<bool> unique;
  for (const IndexLayout& index : schema.indexes)
    unique.push_back(index.unique && !index.ref_key);
  Storage::Write write(*store_);
  store_->CreateTable(name, dictionary, unique);
  write.Commit();
}

}  // namespace vantera
