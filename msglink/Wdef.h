// The plain message line of the message-server link and the builders of every line the
// workstation sends.
//
// A line is "^"-separated fields of Windows-1252 text; no escaping exists. Outgoing lines
// have exactly six fields, each followed by "^":
//
//   index  meaning          outgoing value
//   0      message type     "Moi", "Ping", "Log", or the type of the card message answered
//   1      recipient        "-" for the server itself, else the sender being answered
//   2      sender           the workstation's client name
//   3      route            "-", or the route of the card message answered
//   4      message number   "0", or the number of the card message answered
//   5      message text     depends on the type
//
// Fields 0 to 4 are cut to 35 characters, field 5 to 255, so a line has at most 436
// characters. Received lines carry further fields (6 card short number or command,
// 7 remote number, 8 bridge server); a line with a closing "^" splits into one more piece
// than it has fields, the last one empty.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantera {

inline constexpr char kFieldSeparator = '^';
inline constexpr std::string_view kFieldSeparatorText = "^";
inline constexpr char kLogSeparatorReplacement = '\xA4';  // "¤" in Windows-1252

inline constexpr std::size_t kMaxFieldLength = 35;  // fields 0 to 4
inline constexpr std::size_t kMaxTextLength = 255;  // field 5
inline constexpr std::size_t kMaxLineLength = 5 * (kMaxFieldLength + 1) + kMaxTextLength + 1;

// Positions of the fields in a split line.
enum MsgField : std::size_t {
  kFieldTyyppi = 0,     // message type
  kFieldRecipient = 1,  // recipient
  kFieldLahettaja = 2,  // sender
  kFieldVia = 3,        // route
  kFieldSanomaNo = 4,   // message number
  kFieldSanoma = 5,     // message text
  kFieldKorttiLyh = 6,  // card short number, or the command of a "Log" line
  kFieldEtaNo = 7,      // remote number
  kFieldSiltaSrv = 8,   // bridge server
};

// A received line the workstation acts on splits into at least this many pieces.
inline constexpr std::size_t kMinIncomingPieces = 7;

// Message types and commands.
inline constexpr std::string_view kTypeLogin = "Moi";
inline constexpr std::string_view kTypePing = "Ping";
inline constexpr std::string_view kTypeLog = "Log";
inline constexpr std::string_view kTypeCard = "Crd";
inline constexpr std::string_view kCommandGetLog = "GetLog";
inline constexpr std::string_view kCommandShowLog = "ShowLog";
inline constexpr std::string_view kCommandClearLog = "ClearLog";
inline constexpr std::string_view kShowLogOn = "On";

inline constexpr std::string_view kLoginPrompt = "Login:";  // sent by the server in plain text
inline constexpr std::string_view kLoginPassword = "QXVKM";
inline constexpr std::string_view kToServer = "-";  // recipient or route: the server itself
inline constexpr std::string_view kNoMessageNumber = "0";
inline constexpr std::string_view kPingText = "Ping";
inline constexpr std::string_view kNoLogText = "Error: No log found...";
inline constexpr std::string_view kReplyOk = "OK";

// f0 to f4 cut to 35 characters, f5 to 255, each followed by "^".
std::string BuildMsg(std::string_view f0, std::string_view f1, std::string_view f2,
                     std::string_view f3, std::string_view f4, std::string_view f5);

// text with every occurrence of from replaced by to (unchanged when from equals to).
std::string ReplaceChar(char from, char to, std::string_view text);

// The fields of a stored card message that the identification reply answers.
struct CardMessageFields {
  std::string Tyyppi;     // field 0
  std::string Lahettaja;  // field 2
  std::string Via;        // field 3
  std::string SanomaNo;   // field 4
  std::string Sanoma;     // field 5
  std::string EtaNo;      // field 7
  std::string SiltaSrv;   // field 8
};

// Moi^-^<client>^-^0^QXVKM^ : the answer to the server's "Login:" prompt.
std::string BuildLoginMsg(std::string_view client_name);

// Ping^-^<client>^-^0^Ping^
std::string BuildPingMsg(std::string_view client_name);

// Log^<requester>^<client>^-^0^<log line with "^" turned into "¤", cut to 255>^
std::string BuildLogLineMsg(std::string_view requester, std::string_view client_name,
                            std::string_view log_line);

// Log^<requester>^<client>^-^0^Error: No log found...^
std::string BuildNoLogMsg(std::string_view requester, std::string_view client_name);

// <Tyyppi>^<Lahettaja>^<client>^<Via>^<SanomaNo>^<Sanoma^OK^EtaNo^SiltaSrv cut to 255>^
// The OK reply to a card message whose card matched; field 5 carries three further
// separators, so the receiver splits it into nine fields.
std::string BuildIdentificationReplyMsg(const CardMessageFields& card,
                                        std::string_view client_name);

}  // namespace vantera
