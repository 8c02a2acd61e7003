#include "app/application.h"

#include <QTimer>
#include <iostream>

#include "app/Main.h"
#include "app/demo_run.h"
#include "app/modal_close.h"
#include "app/termination_signal.h"
#include "app/workstation_wiring.h"
#include "core/win1252.h"

namespace vantera {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Vantera"));
  setApplicationDisplayName(QStringLiteral("Vantera"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ReportError(error);
    return false;
  }
}

void Application::ReportError(const std::exception& error) {
  std::cerr << "vantera: " << Win1252ToUtf8(error.what()) << std::endl;
  error_box_->ShowError(error.what());
}

void ReportApplicationError(const std::exception& error) {
  if (auto* app = dynamic_cast<Application*>(QCoreApplication::instance()))
    app->ReportError(error);
  else
    std::cerr << "vantera: " << Win1252ToUtf8(error.what()) << std::endl;
}

int RunWorkstation(int& argc, char** argv, const CommandLine& command) {
  Application app(argc, argv);  // 1: the application, titled "Vantera"

  TfrmVanteraOptions options;
  options.settings_path = EffectiveSettingsPath(command);
  TfrmVantera window(std::move(options));  // 2: the main window and its start-up
  window.SetParts(MakeWorkstationParts(window, command));
  try {
    window.FormCreate();
  } catch (const std::exception& error) {
    app.ReportError(error);  // steps after the failed one were not done: the program ends
    return 1;
  }
  if (window.TerminationRequested())
    return window.ExitCode();
  window.showMaximized();
  if (!command.demo_enrol_card.empty()) {
    try {
      StartDemoEnrolment(window, command.demo_enrol_card);
    } catch (const std::exception& error) {
      app.ReportError(error);  // e.g. the database is gone: the demo run cannot go on
      return 1;
    }
  }
  // A close from outside waits until a running dialog or box is dismissed and its handler
  // has returned to the main loop (level 1, that of app.exec()).
  constexpr int kMainLoopLevel = 1;
  TerminationSignals system_close([&window, &command] {  // a system close
    CloseOutsideModalLoops(&window, kMainLoopLevel, [&window, &command] {
      SaveDemoRecord(window, command);
      window.close();
    });
  });

  if (command.quit_after_ms >= 0) {
    QTimer::singleShot(command.quit_after_ms, &window, [&window, &command] {
      CloseOutsideModalLoops(&window, kMainLoopLevel, [&window, &command] {
        if (!command.screenshot_path.empty() &&
            !window.grab().save(QString::fromStdString(command.screenshot_path)))
          std::cerr << "vantera: cannot save the screenshot " << command.screenshot_path << "\n";
        SaveDemoRecord(window, command);
        window.close();
      });
    });
  }
  return app.exec();  // 3: until the main window closes
}

}  // namespace vantera
