#include "msglink/card_message_table.h"

#include <cstdio>

namespace vantera {
namespace {

void Cut(std::string& text, size_t size) {
  if (text.size() > size)
    text.resize(size);
}

std::string Key(std::string_view korttiLyh) {
  return std::string(korttiLyh.substr(0, CardMessage::kKorttiLyhSize));
}

}  // namespace

std::string FormatAika(std::time_t when) {
  std::tm t{};
  localtime_r(&when, &t);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d.%02d.%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

void CardMessageTable::Open() {
  records_.clear();
  active_ = true;
}

void CardMessageTable::Close() {
  records_.clear();
  active_ = false;
}

void CardMessageTable::CheckActive() const {
  if (!active_)
    throw ETableClosed();
}

void CardMessageTable::EmptyTable() {
  CheckActive();
  records_.clear();
}

void CardMessageTable::Store(CardMessage message) {
  CheckActive();
  Cut(message.KorttiLyh, CardMessage::kKorttiLyhSize);
  Cut(message.Tyyppi, CardMessage::kTyyppiSize);
  Cut(message.Lahettaja, CardMessage::kLahettajaSize);
  Cut(message.Via, CardMessage::kViaSize);
  Cut(message.SanomaNo, CardMessage::kSanomaNoSize);
  Cut(message.Sanoma, CardMessage::kSanomaSize);
  Cut(message.SiltaSrv, CardMessage::kSiltaSrvSize);
  Cut(message.EtaNo, CardMessage::kEtaNoSize);
  std::string key = message.KorttiLyh;
  if (records_.size() >= kMaxRecords && records_.find(key) == records_.end()) {
    auto oldest = records_.begin();
    for (auto it = records_.begin(); it != records_.end(); ++it) {
      if (it->second.Aika < oldest->second.Aika)
        oldest = it;
    }
    records_.erase(oldest);
  }
  records_.insert_or_assign(std::move(key), std::move(message));
}

const CardMessage* CardMessageTable::Find(std::string_view korttiLyh) const {
  CheckActive();
  auto it = records_.find(Key(korttiLyh));
  return it == records_.end() ? nullptr : &it->second;
}

bool CardMessageTable::Delete(std::string_view korttiLyh) {
  CheckActive();
  return records_.erase(Key(korttiLyh)) > 0;
}

std::vector<std::string> CardMessageTable::DeleteStoredBefore(std::time_t limit) {
  CheckActive();
  std::vector<std::string> deleted;
  for (auto it = records_.begin(); it != records_.end();) {
    if (it->second.Aika < limit) {
      deleted.push_back(it->first);
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
  return deleted;
}

size_t CardMessageTable::RecordCount() const {
  CheckActive();
  return records_.size();
}

const CardMessageTable::Records& CardMessageTable::InIndexOrder() const {
  CheckActive();
  return records_;
}

std::vector<std::string> CardMessageTable::Keys() const {
  CheckActive();
  std::vector<std::string> keys;
  keys.reserve(records_.size());
  for (const auto& [key, record] : records_)
    keys.push_back(key);
  return keys;
}

}  // namespace vantera
