// The server-selection dialog, shown when discovery finds several database servers.
//
// `server_list` lists the servers; `sel_but` ("Seleziona") stays disabled until a line is
// chosen, and closing with OK while nothing is selected is refused. A double click on the
// list presses the button when it is enabled. Closing the dialog any other way is no
// choice: the transport then takes the first server in alphabetical order.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "dbconn/server_selection.h"

class QCloseEvent;
class QFrame;
class QListWidget;
class QPushButton;

namespace vantera {

class Tserver_selection_form : public QDialog {
  Q_OBJECT

 public:
  explicit Tserver_selection_form(QWidget* parent = nullptr);

  QListWidget* server_list;
  QFrame* Panel1;
  QPushButton* sel_but;

  void server_listClick();
  void server_listDblClick();
  // Refuses to close with OK while no line is selected.
  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Shows the dialog modally with `names` (Windows-1252). True with `serverName` set to the
// chosen line when the user confirmed; false with `serverName` empty otherwise.
bool SelectServer(const std::vector<std::string>& names, std::string& serverName);

// The connection module's chooser: the dialog above.
class DialogServerChooser : public ServerChooser {
 public:
  bool SelectServer(const std::vector<std::string>& names, std::string& serverName) override;
};

}  // namespace vantera
