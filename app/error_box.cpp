#include "app/error_box.h"

#include <QMessageBox>

#include "app/qt_text.h"

namespace vantera {

void MessageErrorBox::ShowAbortError(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantera"), ToDisplay(text),
                  QMessageBox::Abort);
  box.exec();
}

void MessageErrorBox::ShowError(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantera"), ToDisplay(text),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace vantera
