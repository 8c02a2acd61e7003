#include "app/demo_run.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <fstream>
#include <iostream>
#include <optional>

#include "app/Main.h"
#include "app/command_line.h"
#include "app/fingerprint_link.h"
#include "app/main_window_ui.h"
#include "core/win1252.h"

namespace vantera {

void StartDemoEnrolment(TfrmVantera& window, const std::string& card_number) {
  auto* fp = dynamic_cast<WorkstationFingerprints*>(window.Parts().fingerprint.get());
  if (fp == nullptr) {
    std::cerr << "vantera: --demo-enrol: this workstation has no fingerprint part\n";
    return;
  }
  fp->SetCardSearch([card_number] { return std::optional<std::string>(card_number); });
  const TfrmVanteraUi& ui = window.ui();
  ui.OvcNBook->setCurrentIndex(1);
  ui.BBtnHaku->click();
  if (!ui.BBtnSormenjalki->isEnabled()) {
    std::cerr << "vantera: --demo-enrol: no customer found for card " << card_number << "\n";
    return;
  }
  ui.BBtnSormenjalki->click();
  QPushButton* save = ui.BBtnTalleta;
  auto* poll = new QTimer(&window);  // owned by the window
  QObject::connect(poll, &QTimer::timeout, poll, [save, poll] {
    if (!save->isEnabled())
      return;
    poll->stop();
    save->click();
    std::cerr << "vantera: --demo-enrol: the enrolment was saved\n";
  });
  poll->start(100);
}

void SaveDemoRecord(TfrmVantera& window, const CommandLine& command) {
  if (!command.log_file.empty()) {
    std::ofstream out(command.log_file, std::ios::binary | std::ios::trunc);
    for (const std::string& line : window.Log().Lines())
      out << Win1252ToUtf8(line) << "\n";
    if (!out)
      std::cerr << "vantera: cannot write the log file " << command.log_file << "\n";
  }
  if (!command.shots_prefix.empty()) {
    QTabWidget* tabs = window.ui().OvcNBook;
    const int current = tabs->currentIndex();
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      std::string file = command.shots_prefix + "-" + std::to_string(i + 1) + ".png";
      if (!window.grab().save(QString::fromStdString(file)))
        std::cerr << "vantera: cannot save the screenshot " << file << "\n";
    }
    tabs->setCurrentIndex(current);
  }
}

}  // namespace vantera
