#include "msglink/msgsession.h"

#include "msglink/Wdef.h"
#include "msglink/msgkey.h"

namespace vantera {
namespace {

const std::string kCrLf = "\r\n";

// Wipes the cipher key however the line's handling ends.
class KeyWiper {
 public:
  explicit KeyWiper(Chipper& c) : c_(c) {}
  ~KeyWiper() { c_.WipeKey(); }
  KeyWiper(const KeyWiper&) = delete;
  KeyWiper& operator=(const KeyWiper&) = delete;

 private:
  Chipper& c_;
};

std::string Piece(const std::vector<std::string>& pieces, size_t i) {
  return i < pieces.size() ? pieces[i] : std::string();
}

}  // namespace

MsgSession::MsgSession(MsgSessionView& view)
    : view_(view), now_([] { return std::time(nullptr); }) {
  wsocket_cl_.OnSessionConnected = [this](TCustomWSocket&, uint16_t error) {
    WSocketClSessionConnected(error);
  };
  wsocket_cl_.OnSessionClosed = [this](TCustomWSocket&, uint16_t error) {
    WSocketClSessionClosed(error);
  };
  wsocket_cl_.OnDataAvailable = [this](TCustomWSocket&, uint16_t) { WSocketClDataAvailable(); };
}

void MsgSession::ConnectMsgServer() {
  if (wsocket_cl_.State() == wsConnected)
    wsocket_cl_.Close();
  try {
    wsocket_cl_.SetProto("tcp");
    wsocket_cl_.SetPort(settings_.port);
    wsocket_cl_.SetAddr(settings_.address);
    wsocket_cl_.SetLineMode(true);
    wsocket_cl_.SetLineEnd(kCrLf);
    wsocket_cl_.Connect();
  } catch (const ESocketException& e) {
    view_.WriteLog(
        std::string("Unabled to connect: ") + ESocketException::ClassName() + ": " + e.what(),
        true);
  }
}

std::string MsgSession::Encipher(const std::string& plain) {
  KeyWiper wiper(chipper_);
  chipper_.SetKeyText(kMessageKey);
  return chipper_.EncryptLine(plain);
}

std::string MsgSession::Decipher(const std::string& wire) {
  KeyWiper wiper(chipper_);
  chipper_.SetKeyText(kMessageKey);
  return chipper_.DecryptLine(wire);
}

void MsgSession::SendMsg(const std::string& plain) {
  if (wsocket_cl_.State() != wsConnected) {
    ConnectMsgServer();
    return;
  }
  wsocket_cl_.SendText(Encipher(plain) + kCrLf);
  view_.WriteLog("Snd: " + plain, false);
}

void MsgSession::SendLogin() {
  SendMsg(BuildLoginMsg(settings_.client_name));
}

void MsgSession::SendPing() {
  SendMsg(BuildPingMsg(settings_.client_name));
}

void MsgSession::RestartPingTimer() {
  view_.SetPingTimerEnabled(false);
  view_.SetPingTimerEnabled(true);
}

void MsgSession::WSocketClSessionConnected(uint16_t error) {
  if (error != 0)
    view_.WriteLog("Can't connect. Error #" + std::to_string(error), true);
  else
    view_.WriteLog("Session connected.", false);
  RestartPingTimer();
}

void MsgSession::WSocketClSessionClosed(uint16_t /*error*/) {
  view_.WriteLog("Session closed.", true);
}

void MsgSession::WSocketClDataAvailable() {
  std::string line = wsocket_cl_.ReceiveText();
  if (line.size() > 1 && line.compare(line.size() - 2, 2, kCrLf) == 0)
    line.resize(line.size() - 2);
  RestartPingTimer();
  HandleLine(std::move(line));
}

void MsgSession::HandleLine(std::string line) {
  if (line == kLoginPrompt) {
    SendLogin();
    return;
  }
  line = Decipher(line);
  view_.WriteLog("Rcv: " + line, false);
  brk_apart_msg_.SetBaseString(line);
  brk_apart_msg_.Split();
  const std::vector<std::string> pieces = brk_apart_msg_.StringList();
  if (pieces.size() < kMinIncomingPieces)
    return;
  const std::string& type = pieces[kFieldTyyppi];
  const std::string& command = pieces[kFieldKorttiLyh];
  if (type == kTypeCard) {
    StoreCardMessage(pieces);
  } else if (type == kTypeLog) {
    if (command == kCommandGetLog)
      SendLog(pieces[kFieldLahettaja]);
    else if (command == kCommandShowLog)
      view_.SetMessageDisplay(pieces[kFieldSanoma] == kShowLogOn);
    else if (command == kCommandClearLog)
      view_.ClearLog();
  }
}

void MsgSession::StoreCardMessage(const std::vector<std::string>& pieces) {
  // A line of seven or eight pieces lacks EtaNo and SiltaSrv: they are stored empty.
  CardMessage m;
  m.KorttiLyh = Piece(pieces, kFieldKorttiLyh);
  m.Tyyppi = Piece(pieces, kFieldTyyppi);
  m.Lahettaja = Piece(pieces, kFieldLahettaja);
  m.Via = Piece(pieces, kFieldVia);
  m.SanomaNo = Piece(pieces, kFieldSanomaNo);
  m.Sanoma = Piece(pieces, kFieldSanoma);
  m.EtaNo = Piece(pieces, kFieldEtaNo);
  m.SiltaSrv = Piece(pieces, kFieldSiltaSrv);
  m.Aika = now_();
  kbm_mtbl_msg_.Store(std::move(m));
}

void MsgSession::SendLog(const std::string& requester) {
  BBtnShowMsgClick();
  const size_t n = view_.LogLineCount();  // fixed now: the "Snd: " lines are not sent
  if (n == 0) {
    SendMsg(BuildNoLogMsg(requester, settings_.client_name));
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    // The log may have been emptied meanwhile (more than 500 lines): then an empty line.
    std::string text = i < view_.LogLineCount() ? view_.LogLine(i) : std::string();
    SendMsg(BuildLogLineMsg(requester, settings_.client_name, text));
  }
}

void MsgSession::TimerPingTimeTimer() {
  view_.SetPingTimerEnabled(false);
  try {
    SendPing();
  } catch (const ESocketException& e) {
    view_.WriteLog(std::string(ESocketException::ClassName()) + ": " + e.what(), true);
  }
  view_.SetPingTimerEnabled(true);
}

void MsgSession::BBtnShowMsgClick() {
  for (const auto& [key, m] : kbm_mtbl_msg_.InIndexOrder())
    view_.WriteLog(m.Tyyppi + " " + m.KorttiLyh + " " + m.Lahettaja + " " + m.EtaNo + " " +
                       m.SiltaSrv + " " + m.Sanoma + " " + FormatAika(m.Aika),
                   true);
}

}  // namespace vantera
