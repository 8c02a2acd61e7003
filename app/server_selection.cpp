#include "app/server_selection.h"

#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "core/win1252.h"

namespace vantera {

Tserver_selection_form::Tserver_selection_form(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinMaxButtonsHint) {
  setWindowTitle("KantaDB Server Selection");
  QFont font("MS Sans Serif");
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(329, 211);

  server_list = new QListWidget(this);
  server_list->setObjectName("server_list");
  server_list->setGeometry(0, 0, 329, 167);
  server_list->setStyleSheet("QListWidget { background: palette(button); }");
  server_list->viewport()->installEventFilter(this);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(0, 167, 329, 44);
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);

  sel_but = new QPushButton("Seleziona", Panel1);
  sel_but->setObjectName("sel_but");
  sel_but->setGeometry(122, 9, 75, 25);
  sel_but->setDefault(true);
  sel_but->setEnabled(false);
  connect(sel_but, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
  connect(server_list, &QListWidget::currentRowChanged, this, [this] { server_listClick(); });
  setTabOrder(server_list, sel_but);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

void Tserver_selection_form::server_listClick() {
  sel_but->setEnabled(server_list->currentRow() != -1);
}

void Tserver_selection_form::server_listDblClick() {
  if (sel_but->isEnabled())
    sel_but->click();
}

void Tserver_selection_form::done(int result) {
  if (result == QDialog::Accepted && server_list->currentRow() == -1)
    return;
  QDialog::done(result);
}

bool Tserver_selection_form::eventFilter(QObject* watched, QEvent* event) {
  if (watched == server_list->viewport()) {
    if (event->type() == QEvent::MouseButtonRelease)
      server_listClick();
    else if (event->type() == QEvent::MouseButtonDblClick) {
      server_listDblClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool SelectServer(const std::vector<std::string>& names, std::string& serverName) {
  auto form = std::make_unique<Tserver_selection_form>();  // freed however showing ends
  for (const std::string& name : names)
    form->server_list->addItem(QString::fromUtf8(Win1252ToUtf8(name).c_str()));
  const int result = form->exec();
  const int row = form->server_list->currentRow();
  if (result == QDialog::Accepted && row >= 0 && static_cast<size_t>(row) < names.size()) {
    serverName = names[static_cast<size_t>(row)];
    return true;
  }
  serverName.clear();
  return false;
}

bool DialogServerChooser::SelectServer(const std::vector<std::string>& names,
                                       std::string& serverName) {
  return vantera::SelectServer(names, serverName);
}

}  // namespace vantera
