// The message server's router: one poll loop over a listening TCP socket and its clients.
//
// Protocol (lines end in CR LF):
//   1. Every new connection is sent "Login:" in plain text.
//   2. The client answers with an enciphered login line Moi^-^NAME^-^0^QXVKM^ within the
//      login time; from then on it is known by NAME (a later login under the same name
//      takes the name over). With a client list, a bound NAME logs in only from its
//      addresses; a login from elsewhere closes the new connection and leaves the holder.
//   3. Every further line is deciphered to read its recipient (field 1) and forwarded
//      unchanged to the client logged in under that name. Lines for "-" are for the server
//      itself (pings) and are not routed. Every line is logged in plain text.
//
// The line key is fixed and known to every client, so the cipher proves nothing about who
// sent a line. What the server does know is the connection a line came on: a line whose
// sender (field 2) is not the login name of that connection is not routed, and with a
// client list only names marked "log" may send log commands ("Log" lines with a command in
// field 6) to other clients. Both are logged with the names involved; the connection stays.
//
// A connection that has not logged in within the login time is closed; a new connection is
// refused (closed at once, logged) when its source address holds the per-address limit, or
// when the server holds max_clients.
//
// A client is dropped, without harm to the others, when it sends a line that is not the
// Base64 text of an enciphered message line (garbage), a line longer than the line limit,
// more lines per second than the rate limit, a wrong login, or when it does not read and
// its unsent output grows past the output limit.
//
// Single-threaded; no call blocks except poll().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <optional>

#include "msglink/msgcipher.h"
#include "msgserver/client_list.h"

namespace vantera {

struct MsgRouterOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 40201;        // 0: any free port (see MsgRouter::port())
  size_t max_line = 1024;       // bytes of one wire line without CR LF
  size_t max_output = 4 << 20;  // unsent bytes towards one client
  uint32_t max_rate = 100000;   // lines per second from one client; 0: no limit
  size_t max_clients = 1000;
  size_t max_per_address = 32;  // connections from one source address; 0: no limit
  std::chrono::milliseconds login_timeout{10000};  // time from connecting to the login
  std::optional<ClientList> clients;  // bound names (--clients); none: every name is free
  std::string clients_origin;         // where the list came from, for the start-up log
  bool log_lines = true;              // log every routed line
};

class MsgRouter {
 public:
  using LogFn = std::function<void(const std::string& line)>;

  MsgRouter(MsgRouterOptions options, LogFn log);
  ~MsgRouter();
  MsgRouter(const MsgRouter&) = delete;
  MsgRouter& operator=(const MsgRouter&) = delete;

  // Binds and listens; throws std::runtime_error with the reason on failure.
  void Listen();
  uint16_t port() const { return port_; }

  // Serves until stop_fd becomes readable (a self-pipe written by the signal handler).
  void Run(int stop_fd);

 private:
  struct Client;

  void Accept();
  void ReadFrom(Client& c);
  void WriteTo(Client& c);
  void HandleLine(Client& c, const std::string& wire);
  void Queue(Client& c, const std::string& bytes);
  void Drop(Client& c, const std::string& reason);
  void HandleLogin(Client& c, const std::string& name);
  // Refusals of new connections are logged at most once a second, with the number
  // refused since the previous line, so that a flood of connections cannot flood the log.
  void LogRefusal(const std::string& what);
  // Closes the connections whose login time is over; returns the poll time-out in ms
  // until the next such deadline, or -1 when no connection waits for its login.
  int ExpireLogins();
  // Closes and forgets the clients marked dropped.
  void RemoveDropped();
  std::string Describe(const Client& c) const;

  MsgRouterOptions options_;
  LogFn log_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  uint64_t next_id_ = 1;
  std::map<uint64_t, std::unique_ptr<Client>> clients_;
  std::map<std::string, uint64_t> names_;   // login name -> client id
  std::map<uint32_t, size_t> per_address_;  // source address -> open connections
  std::chrono::steady_clock::time_point last_refusal_log_{};
  size_t refusals_unlogged_ = 0;
  Chipper chipper_;
};

// True when wire is a plausible enciphered line: Base64 characters in groups of four.
bool LooksLikeCipherText(const std::string& wire);

}  // namespace vantera
