// The message-server session: login on the server's prompt, pings, card messages into the
// card-message table, and the remote log commands.
//
// The session owns the socket WSocketCl, the line cipher, the field splitter and the table
// kbmMTblMsg. It reaches the window only through MsgSessionView: the activity log, the
// "Näytä viestit" switch and the ping timer TimerPingTime, which the window owns and whose
// ticks it hands to TimerPingTimeTimer.
//
// States (the session does not track a login; it answers every "Login:" prompt):
//   closed      start; WSocketClSessionClosed             left by ConnectMsgServer
//   connecting  ConnectMsgServer                          left by WSocketClSessionConnected
//   connected   WSocketClSessionConnected with 0          left when the server or the
//                                                         network closes; shut-down
// There is no reconnect timer: the next SendMsg (at the latest the next ping) reconnects,
// and the line it was asked to send is dropped.
//
// Every received line restarts the ping timer, and so does every outcome of a connection
// attempt and every ping tick. GUI thread only; no call blocks except the host name lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "msglink/Brkapart.h"
#include "msglink/WSocket.h"
#include "msglink/card_message_table.h"
#include "msglink/msgcipher.h"

namespace vantera {

// What the session needs of the main window.
class MsgSessionView {
 public:
  virtual ~MsgSessionView() = default;
  // The activity log: always == false writes only while message display is on.
  virtual void WriteLog(const std::string& text, bool always) = 0;
  // The check box "Näytä viestit".
  virtual bool MessageDisplay() const = 0;
  virtual void SetMessageDisplay(bool on) = 0;
  // The lines of the activity log MemoSa, and emptying it.
  virtual size_t LogLineCount() const = 0;
  virtual std::string LogLine(size_t index) const = 0;
  virtual void ClearLog() = 0;
  // Enabled switch of TimerPingTime; disabling and enabling starts a full interval anew.
  virtual void SetPingTimerEnabled(bool on) = 0;
};

// Where the session connects and who it is (from the settings file).
struct MsgServerSettings {
  std::string address = "127.0.0.1";
  std::string port = "40201";
  std::string client_name = "Vantera01";
};

class MsgSession {
 public:
  // The view must outlive the session.
  explicit MsgSession(MsgSessionView& view);
  MsgSession(const MsgSession&) = delete;
  MsgSession& operator=(const MsgSession&) = delete;

  void Configure(const MsgServerSettings& settings) { settings_ = settings; }
  const MsgServerSettings& Settings() const { return settings_; }
  // The clock that stamps Aika (tests replace it).
  void SetClock(std::function<std::time_t()> now) { now_ = std::move(now); }

  // Closes a connected socket and starts a new connection; a failure to start is logged
  // ("Unabled to connect: ..."), the outcome comes later as WSocketClSessionConnected.
  void ConnectMsgServer();
  // Enciphers and sends one plain line; when not connected, reconnects instead and drops it.
  void SendMsg(const std::string& plain);
  void SendLogin();
  void SendPing();
  void RestartPingTimer();

  // Event handlers (wired to WSocketCl in the constructor; the window wires the others).
  void WSocketClSessionConnected(uint16_t error);
  void WSocketClSessionClosed(uint16_t error);
  void WSocketClDataAvailable();
  // Never throws: a send failure is written to the log, and the timer is enabled again.
  void TimerPingTimeTimer();
  // "Viestit": one log line per card message, in KorttiLyh order.
  void BBtnShowMsgClick();

  TWSocket& WSocketCl() { return wsocket_cl_; }
  CardMessageTable& kbmMTblMsg() { return kbm_mtbl_msg_; }

 private:
  void HandleLine(std::string line);
  void StoreCardMessage(const std::vector<std::string>& pieces);
  void SendLog(const std::string& requester);
  std::string Encipher(const std::string& plain);
  std::string Decipher(const std::string& wire);

  MsgSessionView& view_;
  MsgServerSettings settings_;
  std::function<std::time_t()> now_;
  Chipper chipper_;
  TBrkApart brk_apart_msg_{"^", true};
  CardMessageTable kbm_mtbl_msg_;
  TWSocket wsocket_cl_;  // last: destroyed first, while the rest still exists
};

}  // namespace vantera
