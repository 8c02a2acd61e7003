// The bound client names of the message server, read from the file given with --clients.
//
// One entry a line:   NAME ADDRESS[/PREFIX] [log]
//   NAME     the login name (UTF-8 in the file, compared as the Windows-1252 bytes of the
//            wire), at most 35 characters, as the login line carries it
//   ADDRESS  an IPv4 address; with /PREFIX (0 to 32) a network
//   log      the name may send log commands (GetLog, ShowLog, ClearLog) to other clients
// Fields are separated by blanks or tabs; "#" starts a comment; blank lines are skipped. A
// name may have several lines: its addresses add up, and "log" on any of them marks it.
//
// A bound name may log in only from one of its addresses. Names not in the file may log
// in from anywhere, but never send log commands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vantera {

class ClientList {
 public:
  // Parses the text of a clients file; origin names it in errors. Throws
  // std::runtime_error "ORIGIN:LINE: reason" on the first malformed line.
  static ClientList Parse(const std::string& text, const std::string& origin);
  // Reads and parses the file at path; throws std::runtime_error naming the file.
  static ClientList Load(const std::string& path);

  // True when name is bound in the file.
  bool Binds(const std::string& name) const;
  // True when name may log in from the IPv4 address (host byte order): always for names
  // that are not bound.
  bool MayLogInFrom(const std::string& name, uint32_t address) const;
  // True when name is marked "log".
  bool MaySendLogCommands(const std::string& name) const;
  size_t size() const { return entries_.size(); }

 private:
  struct Network {
    uint32_t address = 0;  // host byte order, host bits cleared
    uint32_t mask = 0;
  };
  struct Entry {
    std::vector<Network> networks;
    bool log = false;
  };
  std::map<std::string, Entry> entries_;  // Windows-1252 name -> entry
};

// "a.b.c.d" -> address in host byte order; false when the text is not a dotted IPv4 address.
bool ParseIpv4(const std::string& text, uint32_t* address);
// Address in host byte order -> "a.b.c.d".
std::string FormatIpv4(uint32_t address);

}  // namespace vantera
