// SIGTERM, SIGINT and SIGHUP as a system close of the main window: the signal handler
// only writes a byte to a pipe; the GUI thread reads it through a socket notifier and
// runs the handler, so the shut-down order runs on the GUI thread as for the close box.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vantera {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the signal handlers; one instance at a time. Throws std::runtime_error when
  // the pipe cannot be made.
  explicit TerminationSignals(std::function<void()> on_signal, QObject* parent = nullptr);
  ~TerminationSignals() override;  // restores the default handlers

 private:
  void Drain();

  std::function<void()> on_signal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vantera
