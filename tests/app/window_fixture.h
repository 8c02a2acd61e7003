// Helpers for tests of the main window: a private settings file and an error box that
// records instead of showing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "tests/app/temp_dir.h"

namespace vantera::testing {

struct RecordingErrorBox : ErrorBox {
  explicit RecordingErrorBox(std::vector<std::string>* shown) : shown_(shown) {}
  void ShowAbortError(const std::string& text) override { shown_->push_back(text); }
  void ShowError(const std::string& text) override { shown_->push_back("error: " + text); }
  std::vector<std::string>* shown_;
};

// A window reading its settings from `settings` (no file when empty) in a private folder.
class WindowFixture {
 public:
  explicit WindowFixture(const std::string& settings = {}) {
    TfrmVanteraOptions options;
    options.settings_path =
        settings.empty() ? dir_.File("Tarvola.ini") : dir_.Write("Tarvola.ini", settings);
    options.error_box = std::make_unique<RecordingErrorBox>(&boxes_);
    window_ = std::make_unique<TfrmVantera>(std::move(options));
  }

  TfrmVantera& window() { return *window_; }
  const TfrmVanteraUi& ui() { return window_->ui(); }
  const std::vector<std::string>& boxes() const { return boxes_; }

 private:
  TempDir dir_;
  std::vector<std::string> boxes_;
  std::unique_ptr<TfrmVantera> window_;
};

}  // namespace vantera::testing
