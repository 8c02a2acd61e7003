// The accounts that may open sessions.
//
// Without a users file the server accepts the empty user name with the empty password,
// which is what the workstation sends. A users file holds one account per line,
// "name:password" (bytes as they are, Windows-1252), with blank lines and lines starting
// with "#" ignored; then only the listed accounts are accepted.
#pragma once

#include <map>
#include <string>

namespace vantera {

class AccountStore {
 public:
  // The default: only the empty user name with the empty password.
  AccountStore();
  // Reads a users file; throws std::runtime_error naming the file and line on failure.
  static AccountStore FromFile(const std::string& path);

  bool Check(const std::string& userName, const std::string& password) const;
  void Add(const std::string& userName, const std::string& password);
  size_t Size() const { return accounts_.size(); }

 private:
  std::map<std::string, std::string> accounts_;
};

}  // namespace vantera
