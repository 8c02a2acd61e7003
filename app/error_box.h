// The modal error box with the single button Abort. The window shows its errors through
// this interface so that tests can take the box's place.
#pragma once

#include <string>

namespace vantera {

class ErrorBox {
 public:
  virtual ~ErrorBox() = default;
  // Shows text (Windows-1252) and returns when the box is closed.
  virtual void ShowAbortError(const std::string& text) = 0;
};

// The real box: a QMessageBox titled "Vantera".
class MessageErrorBox : public ErrorBox {
 public:
  void ShowAbortError(const std::string& text) override;
};

}  // namespace vantera
