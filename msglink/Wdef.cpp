#include "msglink/Wdef.h"

namespace vantera {
namespace {

std::string_view Cut(std::string_view text, std::size_t max) {
  return text.substr(0, max);
}

}  // namespace

std::string BuildMsg(std::string_view f0, std::string_view f1, std::string_view f2,
                     std::string_view f3, std::string_view f4, std::string_view f5) {
  std::string line;
  line.reserve(kMaxLineLength);
  for (std::string_view f : {f0, f1, f2, f3, f4}) {
    line += Cut(f, kMaxFieldLength);
    line += kFieldSeparator;
  }
  line += Cut(f5, kMaxTextLength);
  line += kFieldSeparator;
  return line;
}

std::string ReplaceChar(char from, char to, std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == from)
      c = to;
  return out;
}

std::string BuildLoginMsg(std::string_view client_name) {
  return BuildMsg(kTypeLogin, kToServer, client_name, kToServer, kNoMessageNumber, kLoginPassword);
}

std::string BuildPingMsg(std::string_view client_name) {
  return BuildMsg(kTypePing, kToServer, client_name, kToServer, kNoMessageNumber, kPingText);
}

std::string BuildLogLineMsg(std::string_view requester, std::string_view client_name,
                            std::string_view log_line) {
  std::string text =
      ReplaceChar(kFieldSeparator, kLogSeparatorReplacement, Cut(log_line, kMaxTextLength));
  return BuildMsg(kTypeLog, requester, client_name, kToServer, kNoMessageNumber, text);
}

std::string BuildNoLogMsg(std::string_view requester, std::string_view client_name) {
  return BuildMsg(kTypeLog, requester, client_name, kToServer, kNoMessageNumber, kNoLogText);
}

std::string BuildIdentificationReplyMsg(const CardMessageFields& card,
                                        std::string_view client_name) {
  std::string text = card.Sanoma;
  text += kFieldSeparator;
  text += kReplyOk;
  text += kFieldSeparator;
  text += card.EtaNo;
  text += kFieldSeparator;
  text += card.SiltaSrv;
  return BuildMsg(card.Tyyppi, card.Lahettaja, client_name, card.Via, card.SanomaNo,
                  Cut(text, kMaxTextLength));
}

}  // namespace vantera
