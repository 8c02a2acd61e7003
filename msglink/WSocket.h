// TWSocket: the asynchronous TCP client of the message-server link.
//
// A non-blocking POSIX socket whose readiness reaches the GUI thread through two
// QSocketNotifiers (read, write). Connecting, sending and receiving never wait for the
// network; only the host name lookup inside Connect does. Outcomes arrive as events
// (OnSessionConnected, OnDataAvailable, OnSessionClosed) on the thread that owns the object.
//
// Class chain, base first:
//   TCustomWSocket       socket, state, events, send queue, errors
//   TCustomSocksWSocket  proxy negotiation: none here (no SOCKS server is ever set)
//   TCustomLineWSocket   line mode: lines cut at LineEnd, LineLimit
//   TCustomSyncWSocket   waiting operations: none here
//   TWSocket             the component the session uses
//
// State machine (State):
//   wsClosed --Connect--> wsOpened --> wsConnecting
//   wsConnecting --connect done, 0--> wsConnected            OnSessionConnected(0)
//   wsConnecting --connect done, e--> wsConnected --> wsClosed OnSessionConnected(e),
//                                                              OnSessionClosed(0)
//   wsConnected --peer closes--> wsClosed   OnDataAvailable per line left, OnSessionClosed(e)
//   wsConnected --send fails on a dead connection--> wsClosed   OnSessionClosed(e)
//   any --Close--> wsClosed                 OnSessionClosed(0) unless already raised
//
// Invariants:
//   1. A socket descriptor exists exactly while State is not wsClosed.
//   2. OnSessionClosed fires at most once per connection (the closed-event flag, set when
//      the close is told and cleared only by the next Connect), also when a handler sends
//      on the dead connection while the close is being told.
//   3. In line mode, every line is offered once and whole: a data handler that throws
//      loses that one line; it is never offered again nor joined to the next, and the
//      lines behind it are still offered one by one (also when the connection closes).
//   4. No exception leaves a readiness handler into the Qt event loop: an exception raised
//      by the delivery of received data ends that receive loop; any other aborts the
//      connection (unless OnBgException says otherwise).
//
// Not thread-safe: use from the owning (GUI) thread only.
#pragma once

#include <netinet/in.h>
#include <QObject>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>

#include "msglink/socket_error.h"

class QSocketNotifier;

namespace vantera {

enum TSocketState {
  wsInvalidState = 0,
  wsOpened = 1,
  wsBound = 2,
  wsConnecting = 3,
  wsConnected = 4,
  wsAccepting = 5,
  wsListening = 6,
  wsClosed = 7,
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// ComponentOptions flags.
enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1u, wsoTcpNoDelay = 2u };
using TWSocketOptions = unsigned;

class TCustomWSocket;

// Session and data events: the sender and a Winsock error code, 0 for success.
using TSessionEvent = std::function<void(TCustomWSocket& sender, uint16_t error)>;
// OnLineLimitExceeded: the number of bytes buffered; clear_data starts true (discard them).
using TLineLimitEvent =
    std::function<void(TCustomWSocket& sender, size_t received, bool& clear_data)>;
// OnBgException: can_close starts true (abort the connection).
using TBgExceptionEvent =
    std::function<void(TCustomWSocket& sender, const std::exception& error, bool& can_close)>;

class TCustomWSocket : public QObject {
 public:
  static constexpr size_t kChunkSize = 1460;  // one send-queue chunk

  explicit TCustomWSocket(QObject* parent = nullptr);
  ~TCustomWSocket() override;
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // ---- Properties. Addr, Port and Proto may change only in wsClosed; setting the
  // present value again is allowed anywhere and does nothing. Values are trimmed of
  // blanks; an empty value leaves the property unassigned.
  const std::string& Addr() const { return addr_; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  const std::string& Proto() const { return proto_; }
  void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return local_addr_; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return local_port_; }
  void SetLocalPort(const std::string& value);
  TSocketLingerOnOff LingerOnOff() const { return linger_onoff_; }
  void SetLingerOnOff(TSocketLingerOnOff v) { linger_onoff_ = v; }
  int LingerTimeout() const { return linger_timeout_; }
  void SetLingerTimeout(int seconds) { linger_timeout_ = seconds; }
  TWSocketOptions ComponentOptions() const { return options_; }
  void SetComponentOptions(TWSocketOptions o) { options_ = o; }
  bool MultiThreaded() const { return false; }
  TSocketState State() const { return state_; }
  uint16_t LastError() const { return last_error_; }
  // Bytes accepted by Send and not yet handed to the system.
  size_t BufferedByteCount() const;

  // ---- Events
  TSessionEvent OnSessionConnected;
  TSessionEvent OnSessionClosed;
  TSessionEvent OnDataAvailable;
  TSessionEvent OnDataSent;
  TBgExceptionEvent OnBgException;

  // ---- Operations
  // Starts a non-blocking connect; the outcome arrives as OnSessionConnected. Throws
  // ESocketException for the checks and failures described with each step; a failure
  // after the socket was created releases it again (State wsClosed, no event).
  void Connect();
  // Shuts down the sending direction and closes the socket. With the default linger (on,
  // 0 s) unsent data is discarded and the connection is reset.
  void Close();
  // Closes without shutting down the sending direction, the send queue emptied, linger off.
  void Abort();
  // Queues and sends; throws "Error 10057 in function Send" when not wsConnected.
  // Returns the number of bytes accepted (all of them).
  size_t Send(const void* data, size_t length);
  // An empty text sends nothing and returns 0.
  size_t SendText(const std::string& text);
  // The received data on offer (in line mode: the line, its line end included); ends the
  // offer. Empty when nothing is on offer.
  virtual std::string ReceiveText();

 protected:
  // Reads what the system reports waiting (255 bytes when it reports none) into the
  // receive buffer. Sets `eof` when the peer has closed, `error` on a receive error.
  void ReadIntoBuffer(bool& eof, uint16_t& error);
  // One delivery pass: optionally read, then offer what is complete. Overridden by line
  // mode. Exceptions of the data handler propagate (after the offered data is dropped).
  virtual void DeliveryPass(bool read_socket, bool& eof, uint16_t& error);
  // Raises OnDataAvailable for `length` bytes at the front of the receive buffer; they are
  // dropped if the handler does not take them or throws.
  void OfferData(size_t length);
  // Raises OnSessionClosed; line mode first offers what is left in the receive buffer.
  virtual void TriggerSessionClosed(uint16_t error);
  // Runs a delivery pass without reading, from the event loop, soon.
  void QueueDeliveryPass();

  // Removes n bytes from the front of the receive buffer.
  void ConsumeFront(size_t n);
  // Empties the receive buffer and ends any offer.
  void ClearReceiveBuffer();

  std::string rcv_buf_;   // received bytes not yet handed out
  size_t offer_len_ = 0;  // length of the data on offer (0: nothing on offer)
  // Line mode: the front of rcv_buf_ already searched without finding a line end. Reset
  // whenever bytes leave the buffer's front.
  size_t searched_ = 0;
  bool destroying_ = false;

 private:
  struct Chunk {
    std::array<char, kChunkSize> data;
    size_t written = 0;  // bytes filled
    size_t sent = 0;     // bytes handed to the system
  };

  void SetTextProperty(std::string& field, bool& resolved, const std::string& value,
                       const char* name);
  void Resolve();
  void CreateNotifiers();
  void DropNotifiers();
  void WantWriteReady(bool on);
  void HandleReadiness(bool readable, bool writable);
  void HandleConnectDone(uint16_t error);
  void ReceiveLoop();
  void HandlePeerClosed(uint16_t error);
  void TryToSend();
  void InternalClose(bool shutdown_first, uint16_t error);
  void RestoreDefaults();
  void HandleBgException(const std::exception& e);
  // Throws the call error; on 10054 and 10057 the socket is dropped first.
  [[noreturn]] void RaiseCallError(uint16_t code, const std::string& function);
  void RunQueuedPass();

  int fd_ = -1;
  TSocketState state_ = wsClosed;
  uint16_t last_error_ = 0;
  std::string addr_, port_, proto_ = "tcp", local_addr_ = "0.0.0.0", local_port_ = "0";
  bool addr_resolved_ = false, port_resolved_ = false, proto_resolved_ = false,
       local_port_resolved_ = false;
  in_addr sin_addr_{};
  uint16_t sin_port_ = 0;
  int proto_num_ = 0;
  uint16_t local_port_num_ = 0;
  TSocketLingerOnOff linger_onoff_ = wsLingerOn;
  int linger_timeout_ = 0;
  TWSocketOptions options_ = 0;
  bool close_invoked_ = false;  // the closed-event flag
  bool data_sent_pending_ = false;
  bool pass_queued_ = false;
  std::deque<Chunk> send_queue_;
  QSocketNotifier* read_notifier_ = nullptr;  // children of this object
  QSocketNotifier* write_notifier_ = nullptr;
};

// Proxy negotiation would live here; the workstation never sets a SOCKS server.
class TCustomSocksWSocket : public TCustomWSocket {
 public:
  using TCustomWSocket::TCustomWSocket;
};

class TCustomLineWSocket : public TCustomSocksWSocket {
 public:
  static constexpr size_t kDefaultLineLimit = 65536;

  using TCustomSocksWSocket::TCustomSocksWSocket;

  bool LineMode() const { return line_mode_; }
  // A change while received bytes wait queues a delivery pass.
  void SetLineMode(bool on);
  const std::string& LineEnd() const { return line_end_; }
  void SetLineEnd(const std::string& value);
  size_t LineLimit() const { return line_limit_; }
  void SetLineLimit(size_t limit) { line_limit_ = limit; }
  bool LineEcho() const { return line_echo_; }
  void SetLineEcho(bool on) { line_echo_ = on; }
  bool LineEdit() const { return line_edit_; }
  void SetLineEdit(bool on) { line_edit_ = on; }

  // Default: discard the buffered bytes.
  TLineLimitEvent OnLineLimitExceeded;

 protected:
  void DeliveryPass(bool read_socket, bool& eof, uint16_t& error) override;
  void TriggerSessionClosed(uint16_t error) override;

 private:
  bool InLineMode() const { return line_mode_ && !line_end_.empty(); }

  bool line_mode_ = false;
  std::string line_end_ = "\r\n";
  size_t line_limit_ = kDefaultLineLimit;
  bool line_echo_ = false;
  bool line_edit_ = false;
};

// Waiting operations would live here; the workstation never waits on the socket.
class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  using TCustomLineWSocket::TCustomLineWSocket;
};

class TWSocket : public TCustomSyncWSocket {
 public:
  using TCustomSyncWSocket::TCustomSyncWSocket;
};

}  // namespace vantera
