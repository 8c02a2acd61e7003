// The message-server session joined to the main window: start-up steps 11 and 12, shut-down
// steps 3 and 4, the ping timer's ticks and the "Viestit" button.
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "app/workstation_parts.h"
#include "msglink/msgsession.h"

namespace vantera {

class TfrmVantera;

class WorkstationMessageLink : public MessageLink, private MsgSessionView {
 public:
  // The window must outlive the link (it owns it through its working parts).
  explicit WorkstationMessageLink(TfrmVantera& window);
  ~WorkstationMessageLink() override;

  // MessageLink: the steps the window takes.
  void OpenMessageTable() override;
  void ConnectMsgServer() override;
  void CloseSocket() override;
  void CloseMessageTable() override;

  // The session, for identification (OK replies, the card-message table).
  MsgSession& Session() { return session_; }

 private:
  // MsgSessionView
  void WriteLog(const std::string& text, bool always) override;
  bool MessageDisplay() const override;
  void SetMessageDisplay(bool on) override;
  size_t LogLineCount() const override;
  std::string LogLine(size_t index) const override;
  void ClearLog() override;
  void SetPingTimerEnabled(bool on) override;

  TfrmVantera& window_;
  MsgSession session_;
  // The window's timer and button may outlive the link (parts replaced before start-up) or
  // die before it (the window's members go first): the handlers check this token, and the
  // button's connection ends with the context object.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  QObject context_;
};

}  // namespace vantera
