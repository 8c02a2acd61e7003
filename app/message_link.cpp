#include "app/message_link.h"

#include <QPushButton>

#include "app/Main.h"

namespace vantera {

WorkstationMessageLink::WorkstationMessageLink(TfrmVantera& window)
    : window_(window), session_(*this) {
  std::weak_ptr<int> alive = alive_;
  window_.TimerPingTime().SetOnTimer([this, alive] {
    if (alive.lock())
      session_.TimerPingTimeTimer();
  });
  QObject::connect(window_.ui().BBtnShowMsg, &QPushButton::clicked, &context_,
                   [this] { session_.BBtnShowMsgClick(); });
}

// Touches nothing of the window: its members may already be gone.
WorkstationMessageLink::~WorkstationMessageLink() = default;

void WorkstationMessageLink::OpenMessageTable() {
  // The settings have been read by now (start-up step 3).
  const Settings& s = window_.CurrentSettings();
  session_.Configure({s.msg_server_address, s.msg_server_port, s.client_name});
  session_.kbmMTblMsg().Open();  // a freshly opened table is empty
  session_.kbmMTblMsg().EmptyTable();
}

void WorkstationMessageLink::ConnectMsgServer() {
  session_.ConnectMsgServer();
}

void WorkstationMessageLink::CloseSocket() {
  session_.WSocketCl().Close();
}

void WorkstationMessageLink::CloseMessageTable() {
  session_.kbmMTblMsg().Close();
}

void WorkstationMessageLink::WriteLog(const std::string& text, bool always) {
  window_.WriteLog(text, always);
}

bool WorkstationMessageLink::MessageDisplay() const {
  return window_.Log().MessageDisplay();
}

void WorkstationMessageLink::SetMessageDisplay(bool on) {
  window_.Log().SetMessageDisplay(on);
}

size_t WorkstationMessageLink::LogLineCount() const {
  return window_.Log().LineCount();
}

std::string WorkstationMessageLink::LogLine(size_t index) const {
  return window_.Log().Lines().at(index);
}

void WorkstationMessageLink::ClearLog() {
  window_.Log().Clear();
}

void WorkstationMessageLink::SetPingTimerEnabled(bool on) {
  window_.TimerPingTime().SetEnabled(on);
}

}  // namespace vantera
