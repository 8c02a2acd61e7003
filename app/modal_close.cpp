#include "app/modal_close.h"

#include <QApplication>
#include <QDialog>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace vantera {

void CloseOutsideModalLoops(QObject* context, int main_loop_level, std::function<void()> close) {
  if (QThread::currentThread()->loopLevel() <= main_loop_level) {
    close();
    return;
  }
  if (QWidget* popup = QApplication::activePopupWidget())
    popup->close();
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();  // also a message box without an escape button
    else
      modal->close();
  }
  QTimer::singleShot(kModalCloseRetryMs, context,
                     [context, main_loop_level, close = std::move(close)]() mutable {
                       CloseOutsideModalLoops(context, main_loop_level, std::move(close));
                     });
}

}  // namespace vantera
