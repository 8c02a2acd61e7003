// One QApplication for the Qt tests of this folder, on the offscreen platform unless the
// environment names another.
#pragma once

#include <stdlib.h>

#include <QApplication>
#include <memory>

namespace vantera {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "fpsdk_tests";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static std::unique_ptr<QApplication> app = std::make_unique<QApplication>(argc, argv);
  return *app;
}

}  // namespace vantera
