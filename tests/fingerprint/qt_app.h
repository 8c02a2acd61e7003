// One QApplication for the Qt tests of this folder (offscreen, set by the test runner).
#pragma once

#include <QApplication>
#include <memory>

namespace vantera {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "fpsdk_tests";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = std::make_unique<QApplication>(argc, argv);
  return *app;
}

}  // namespace vantera
