#include "app/status_hints.h"

#include <QApplication>
#include <QEvent>
#include <QVariant>
#include <QWidget>

namespace vantera {
namespace {

constexpr char kHintProperty[] = "vanteraHint";

}  // namespace

void SetHint(QWidget* widget, std::string_view hint) {
  widget->setProperty(kHintProperty, QByteArray(hint.data(), static_cast<qsizetype>(hint.size())));
}

std::string StatusTextOfHint(std::string_view hint) {
  size_t bar = hint.find('|');
  return std::string(bar == std::string_view::npos ? hint : hint.substr(bar + 1));
}

std::string StatusTextOf(const QWidget* widget) {
  for (; widget != nullptr; widget = widget->parentWidget()) {
    QVariant hint = widget->property(kHintProperty);
    if (hint.isValid()) {
      QByteArray bytes = hint.toByteArray();
      if (!bytes.isEmpty())
        return StatusTextOfHint(std::string_view(bytes.constData(), bytes.size()));
    }
  }
  return {};
}

StatusHints::StatusHints(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

void StatusHints::Install() {
  QApplication::instance()->installEventFilter(this);
}

bool StatusHints::eventFilter(QObject* watched, QEvent* event) {
  if (watched->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Enter)
      Update(widget);
    else if (event->type() == QEvent::Leave)  // back over the enclosing control, if any
      Update(widget->isWindow() ? nullptr : widget->parentWidget());
  }
  return QObject::eventFilter(watched, event);
}

void StatusHints::Update(const QWidget* widget) {
  std::string text = StatusTextOf(widget);
  if (text == current_)
    return;
  current_ = std::move(text);
  if (handler_)
    handler_(current_);
}

}  // namespace vantera
