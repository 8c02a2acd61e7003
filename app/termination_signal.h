// SIGTERM, SIGINT and SIGHUP as a system close of the main window: the signal handler
// only writes a byte to a pipe; the GUI thread reads it through a socket notifier and
// runs the handler, so the shut-down order runs on the GUI thread as for the close box.
//
// The GUI thread may be held in a database call when the signal comes (a server that
// stopped answering). The handler therefore also ends every database wait
// (InterruptDatabaseWaits): the call fails at once, the GUI thread gets back to its event
// loop and runs the shut-down order, in which the database gets only a short grace. As a
// last resort a watchdog thread ends the process kForcedExitDelay after the first signal
// if the program is still running then, so a signal always ends the program in time.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class QSocketNotifier;

namespace vantera {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // After the first signal the program ends within this time, orderly or not.
  static constexpr std::chrono::milliseconds kForcedExitDelay{8000};
  // The exit code when the watchdog had to end the program.
  static constexpr int kForcedExitCode = 1;

  // Installs the signal handlers; one instance at a time. Throws std::runtime_error when
  // the pipes cannot be made.
  explicit TerminationSignals(std::function<void()> on_signal, QObject* parent = nullptr);
  // Restores the default handlers and stops the watchdog (an orderly end came in time).
  ~TerminationSignals() override;

 private:
  void Drain();
  void Watch();

  std::function<void()> on_signal_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::thread watchdog_;
};

}  // namespace vantera
