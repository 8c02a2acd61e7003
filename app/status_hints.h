// Status hints: the text after the first "|" of a control's hint is shown in the status
// line while the mouse is over the control. A control without a hint of its own shows the
// hint of its nearest enclosing control that has one; where none has, the text is empty.
// Hints are Windows-1252 texts kept on the widgets; no tooltips are shown.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace vantera {

// Gives the widget a hint (Windows-1252), for example "|Sulje ohjelma.".
void SetHint(QWidget* widget, std::string_view hint);

// The status part of a hint: the text after its first "|", or the whole hint without one.
std::string StatusTextOfHint(std::string_view hint);

// The status text of a widget: of its own hint, or of its nearest enclosing widget's.
std::string StatusTextOf(const QWidget* widget);

// Watches the mouse entering and leaving widgets of the application and reports each
// change of the current status text.
class StatusHints : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(const std::string& status_text)>;

  explicit StatusHints(Handler handler, QObject* parent = nullptr);

  // Starts watching every widget of the application.
  void Install();

  const std::string& CurrentText() const { return current_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Update(const QWidget* widget);

  Handler handler_;
  std::string current_;
};

}  // namespace vantera
