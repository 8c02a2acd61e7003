// What the identification and enrolment workflows need of the main window, named by the
// window's controls: "EdtSeAsNo", "BBtnTalleta", "TimerGetTimeOut", "FPGetTemplateX",
// "Memo" and so on. The window maps each name to its control; the workflows stay free of
// the widget toolkit, and tests record the calls in order.
#pragma once

#include <string>
#include <string_view>

namespace vantera {

class WorkflowView {
 public:
  virtual ~WorkflowView() = default;
  // Edit fields.
  virtual void SetText(std::string_view field, const std::string& text) = 0;
  virtual std::string Text(std::string_view field) const = 0;
  // Buttons and timers: the Enabled switch (a timer enabled anew starts a full interval).
  virtual void SetEnabled(std::string_view control, bool on) = 0;
  // The list Memo of the enrolment tab.
  virtual void AddLine(std::string_view list, const std::string& line) = 0;
  virtual void ClearLines(std::string_view list) = 0;
  // The reader controls FPGetTemplateX and FPRegTemplateX: Start with the empty variant,
  // and Stop.
  virtual void StartControl(std::string_view control) = 0;
  virtual void StopControl(std::string_view control) = 0;
  // The activity log: always == false writes only while message display is on.
  virtual void WriteLog(const std::string& text, bool always) = 0;
};

}  // namespace vantera
