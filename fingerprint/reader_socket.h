// The reader socket of a running workstation: a Unix-domain stream socket at
// <runtime folder>/reader.sock through which vantera-reader places named fingers on the
// simulated reader. The line protocol is in reader_protocol.h.
//
// Everything runs on the GUI thread: the listening socket and each client are watched by a
// QSocketNotifier, and a request is answered after the control's OnDone handler has run.
// At most kMaxReaderClients clients at once: a new one pushes out the one connected longest
// ago (it gets "error busy"). A line longer than kMaxReaderLine closes its client after
// "error line too long".
//
// Start-up: a socket file left behind by a workstation that is gone is replaced; a socket
// that still answers (another workstation) or a file that is not a socket is an error.
// Shut-down (destruction) closes every client and removes the socket file, if it is still
// the one this object made.
#pragma once

#include <sys/types.h>
#include <QObject>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "fingerprint/simulated_reader.h"

class QSocketNotifier;

namespace vantera {

inline constexpr size_t kMaxReaderClients = 16;

class ReaderSocket : public QObject {
  Q_OBJECT

 public:
  // Listens on ReaderSocketPath(runtime_dir), creating the folder when missing. Throws
  // std::runtime_error naming the path and the reason when it cannot listen. The reader
  // must outlive this object.
  ReaderSocket(SimulatedReader& reader, const std::string& runtime_dir, QObject* parent = nullptr);
  ~ReaderSocket() override;
  ReaderSocket(const ReaderSocket&) = delete;
  ReaderSocket& operator=(const ReaderSocket&) = delete;

  const std::string& Path() const { return path_; }
  size_t ClientCount() const { return clients_.size(); }

 signals:
  // A request was answered: the finger (UTF-8) and the reply line without its "\n"; for
  // the activity log.
  void Answered(const QString& finger, const QString& reply);
  // A placement was taken but the control's OnDone handler failed: the error text
  // (Windows-1252 bytes, as the program's errors are). Emitted after the client has its
  // answer, so that a report box cannot hold the answer back.
  void PlacementFailed(const QByteArray& error);

 private:
  struct Client;
  void Accept();
  void ReadClient(int id);
  void CloseClient(int id);
  // The reply line for a request; a handler failure is also kept in *failure.
  std::string Answer(std::string_view line, std::string* finger, std::string* failure);

  SimulatedReader& reader_;
  std::string path_;
  int listen_fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  QSocketNotifier* listen_notifier_ = nullptr;  // a child of this object
  std::map<int, std::unique_ptr<Client>> clients_;
  int next_id_ = 1;
};

}  // namespace vantera
