// The modal error boxes of the program. The window and the application show their errors
// through this interface so that tests can take the boxes' place.
#pragma once

#include <string>

namespace vantera {

class ErrorBox {
 public:
  virtual ~ErrorBox() = default;
  // The start-up database failure: text (Windows-1252) with the single button Abort.
  // Returns when the box is closed.
  virtual void ShowAbortError(const std::string& text) = 0;
  // The application's report of any other error: its message with an OK button.
  virtual void ShowError(const std::string& text) = 0;
};

// The real boxes: QMessageBox titled "Vantera".
class MessageErrorBox : public ErrorBox {
 public:
  void ShowAbortError(const std::string& text) override;
  void ShowError(const std::string& text) override;
};

}  // namespace vantera
