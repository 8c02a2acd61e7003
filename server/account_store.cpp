#include "server/account_store.h"

#include <fstream>
#include <stdexcept>

namespace vantera {

AccountStore::AccountStore() {
  accounts_[""] = "";
}

AccountStore AccountStore::FromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read users file " + path);
  AccountStore store;
  store.accounts_.clear();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty() || line[0] == '#')
      continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon > 255 || line.size() - colon - 1 > 255) {
      throw std::runtime_error(path + ":" + std::to_string(number) +
                               ": expected name:password (each at most 255 characters)");
    }
    store.Add(line.substr(0, colon), line.substr(colon + 1));
  }
  return store;
}

bool AccountStore::Check(const std::string& userName, const std::string& password) const {
  auto it = accounts_.find(userName);
  return it != accounts_.end() && it->second == password;
}

void AccountStore::Add(const std::string& userName, const std::string& password) {
  accounts_[userName] = password;
}

}  // namespace vantera
