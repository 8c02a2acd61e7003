// Socket failures in the form the database transport reports them.
//
// The transport's messages carry Windows Sockets error codes and texts; on this platform
// the codes come from errno and are mapped here, once, for every socket user of dbconn
// and for the server. End of stream, which has no errno, is reported as WSAEDISCON.
#pragma once

#include <string>

namespace vantera {

namespace wsa {
inline constexpr int kEINTR = 10004;
inline constexpr int kEBADF = 10009;
inline constexpr int kEACCES = 10013;
inline constexpr int kEFAULT = 10014;
inline constexpr int kEINVAL = 10022;
inline constexpr int kEMFILE = 10024;
inline constexpr int kEWOULDBLOCK = 10035;
inline constexpr int kEINPROGRESS = 10036;
inline constexpr int kEALREADY = 10037;
inline constexpr int kENOTSOCK = 10038;
inline constexpr int kEMSGSIZE = 10040;
inline constexpr int kENOPROTOOPT = 10042;
inline constexpr int kEAFNOSUPPORT = 10047;
inline constexpr int kEADDRINUSE = 10048;
inline constexpr int kEADDRNOTAVAIL = 10049;
inline constexpr int kENETDOWN = 10050;
inline constexpr int kENETUNREACH = 10051;
inline constexpr int kENETRESET = 10052;
inline constexpr int kECONNABORTED = 10053;
inline constexpr int kECONNRESET = 10054;
inline constexpr int kENOBUFS = 10055;
inline constexpr int kEISCONN = 10056;
inline constexpr int kENOTCONN = 10057;
inline constexpr int kESHUTDOWN = 10058;
inline constexpr int kETIMEDOUT = 10060;
inline constexpr int kECONNREFUSED = 10061;
inline constexpr int kEHOSTDOWN = 10064;
inline constexpr int kEHOSTUNREACH = 10065;
inline constexpr int kEDISCON = 10101;
inline constexpr int kHOST_NOT_FOUND = 11001;
}  // namespace wsa

// The Windows Sockets code for an errno value; errno values without a socket meaning map
// to 10000 + errno so that nothing is reported as success. 0 stays 0.
int WinsockCodeFromErrno(int err);

// The system's text for a Windows Sockets code ("No connection could be made because
// the target machine actively refused it."), or a generic text for codes without one.
std::string WinsockErrorText(int code);

// The operating-system error message of the socket layer:
//   "Win32 Error in [unknown].  Code: CODE.\nTEXT"   for a non-zero code
//   "A Win32 API function failed in [unknown]."       for code 0
std::string SocketErrorMessage(int code);

// Raises the socket layer's operating-system error (EnxOSError) for `code`; when
// `closing` is set and the code is not 0 it raises a silent abort (EnxAbort) instead,
// because a connection being closed by its owner is expected to fail.
[[noreturn]] void RaiseSocketError(int code, bool closing = false);

// RaiseSocketError for the current errno.
[[noreturn]] void RaiseLastSocketError(bool closing = false);

}  // namespace vantera
