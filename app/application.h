// The application object and the run of the workstation program.
#pragma once

#include <QApplication>
#include <exception>
#include <memory>

#include "app/command_line.h"
#include "app/error_box.h"

namespace vantera {

// The application's general error handling: an exception that leaves an event handler is
// reported (standard error and an error box with its message) and the program goes on.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Writes "vantera: MESSAGE" to standard error and shows the message in the error box.
  void ReportError(const std::exception& error);
  // Replaces the error box (tests).
  void SetErrorBox(std::unique_ptr<ErrorBox> box) { error_box_ = std::move(box); }

 private:
  std::unique_ptr<ErrorBox> error_box_ = std::make_unique<MessageErrorBox>();
};

// Reports an error through the running Application; without one (tests with a plain
// application object) only on standard error.
void ReportApplicationError(const std::exception& error);

// Program entry for the window: builds the window and its parts, runs start-up, then the
// event loop. Returns the exit code: 0 after a normal close, 1 when start-up failed.
int RunWorkstation(int& argc, char** argv, const CommandLine& command);

}  // namespace vantera
