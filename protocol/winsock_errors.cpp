#include "protocol/winsock_errors.h"

#include <cerrno>

#include "protocol/nxllException.h"

namespace vantera {

int WinsockCodeFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return wsa::kEINTR;
    case EBADF:
      return wsa::kEBADF;
    case EACCES:
    case EPERM:
      return wsa::kEACCES;
    case EFAULT:
      return wsa::kEFAULT;
    case EINVAL:
      return wsa::kEINVAL;
    case EMFILE:
    case ENFILE:
      return wsa::kEMFILE;
    case EAGAIN:
      return wsa::kEWOULDBLOCK;
    case EINPROGRESS:
      return wsa::kEINPROGRESS;
    case EALREADY:
      return wsa::kEALREADY;
    case ENOTSOCK:
      return wsa::kENOTSOCK;
    case EMSGSIZE:
      return wsa::kEMSGSIZE;
    case ENOPROTOOPT:
      return wsa::kENOPROTOOPT;
    case EAFNOSUPPORT:
      return wsa::kEAFNOSUPPORT;
    case EADDRINUSE:
      return wsa::kEADDRINUSE;
    case EADDRNOTAVAIL:
      return wsa::kEADDRNOTAVAIL;
    case ENETDOWN:
      return wsa::kENETDOWN;
    case ENETUNREACH:
      return wsa::kENETUNREACH;
    case ENETRESET:
      return wsa::kENETRESET;
    case ECONNABORTED:
      return wsa::kECONNABORTED;
    case ECONNRESET:
    case EPIPE:
      return wsa::kECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return wsa::kENOBUFS;
    case EISCONN:
      return wsa::kEISCONN;
    case ENOTCONN:
      return wsa::kENOTCONN;
    case ESHUTDOWN:
      return wsa::kESHUTDOWN;
    case ETIMEDOUT:
      return wsa::kETIMEDOUT;
    case ECONNREFUSED:
      return wsa::kECONNREFUSED;
    case EHOSTDOWN:
      return wsa::kEHOSTDOWN;
    case EHOSTUNREACH:
      return wsa::kEHOSTUNREACH;
    default:
      return 10000 + err;
  }
}

std::string WinsockErrorText(int code) {
  switch (code) {
    case wsa::kEINTR:
      return "A blocking operation was interrupted by a call to WSACancelBlockingCall.";
    case wsa::kEBADF:
      return "The file handle supplied is not valid.";
    case wsa::kEACCES:
      return "An attempt was made to access a socket in a way forbidden by its access "
             "permissions.";
    case wsa::kEFAULT:
      return "The system detected an invalid pointer address in attempting to use a pointer "
             "argument in a call.";
    case wsa::kEINVAL:
      return "An invalid argument was supplied.";
    case wsa::kEMFILE:
      return "Too many open sockets.";
    case wsa::kEWOULDBLOCK:
      return "A non-blocking socket operation could not be completed immediately.";
    case wsa::kEINPROGRESS:
      return "A blocking operation is currently executing.";
    case wsa::kEALREADY:
      return "An operation was attempted on a non-blocking socket that already had an "
             "operation in progress.";
    case wsa::kENOTSOCK:
      return "An operation was attempted on something that is not a socket.";
    case wsa::kEMSGSIZE:
      return "A message sent on a datagram socket was larger than the internal message buffer "
             "or some other network limit, or the buffer used to receive a datagram into was "
             "smaller than the datagram itself.";
    case wsa::kENOPROTOOPT:
      return "An unknown, invalid, or unsupported option or level was specified in a "
             "getsockopt or setsockopt call.";
    case wsa::kEAFNOSUPPORT:
      return "An address incompatible with the requested protocol was used.";
    case wsa::kEADDRINUSE:
      return "Only one usage of each socket address (protocol/network address/port) is "
             "normally permitted.";
    case wsa::kEADDRNOTAVAIL:
      return "The requested address is not valid in its context.";
    case wsa::kENETDOWN:
      return "A socket operation encountered a dead network.";
    case wsa::kENETUNREACH:
      return "A socket operation was attempted to an unreachable network.";
    case wsa::kENETRESET:
      return "The connection has been broken due to keep-alive activity detecting a failure "
             "while the operation was in progress.";
    case wsa::kECONNABORTED:
      return "An established connection was aborted by the software in your host machine.";
    case wsa::kECONNRESET:
      return "An existing connection was forcibly closed by the remote host.";
    case wsa::kENOBUFS:
      return "An operation on a socket could not be performed because the system lacked "
             "sufficient buffer space or because a queue was full.";
    case wsa::kEISCONN:
      return "A connect request was made on an already connected socket.";
    case wsa::kENOTCONN:
      return "A request to send or receive data was disallowed because the socket is not "
             "connected and (when sending on a datagram socket using a sendto call) no "
             "address was supplied.";
    case wsa::kESHUTDOWN:
      return "A request to send or receive data was disallowed because the socket had already "
             "been shut down in that direction with a previous shutdown call.";
    case wsa::kETIMEDOUT:
      return "A connection attempt failed because the connected party did not properly "
             "respond after a period of time, or established connection failed because "
             "connected host has failed to respond.";
    case wsa::kECONNREFUSED:
      return "No connection could be made because the target machine actively refused it.";
    case wsa::kEHOSTDOWN:
      return "A socket operation failed because the destination host was down.";
    case wsa::kEHOSTUNREACH:
      return "A socket operation was attempted to an unreachable host.";
    case wsa::kEDISCON:
      return "A graceful shutdown is in progress.";
    case wsa::kHOST_NOT_FOUND:
      return "No such host is known.";
    default:
      return "Unknown socket error.";
  }
}

std::string SocketErrorMessage(int code) {
  if (code == 0)
    return "A Win32 API function failed in [unknown].";
  return "Win32 Error in [unknown].  Code: " + std::to_string(code) + ".\n" +
         WinsockErrorText(code);
}

void RaiseSocketError(int code, bool closing) {
  if (closing && code != 0)
    throw EnxAbort();
  throw EnxOSError(SocketErrorMessage(code), static_cast<uint32_t>(code));
}

void RaiseLastSocketError(bool closing) {
  RaiseSocketError(WinsockCodeFromErrno(errno), closing);
}

}  // namespace vantera
