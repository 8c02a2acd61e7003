// Closing the main window from outside the operator's hands (a termination signal, the
// --quit-after timer) while a modal dialog or message box runs its own event loop.
//
// The handler that opened the dialog (a card search, an error report) still stands on the
// stack and goes on using the database once the dialog returns; the shut-down order must
// not run under it. So each dialog, box or popup menu that runs is dismissed first, and
// the close waits until the event loop is back at the program's main loop.
#pragma once

#include <QObject>
#include <functional>

namespace vantera {

// Calls `close` on the GUI thread once no event loop runs above `main_loop_level` (1 for
// the loop of QApplication::exec). Until then the active popup and modal widget are closed
// (a dialog is rejected) and the check is repeated every kModalCloseRetryMs from the event
// loop. Nothing is called once `context` is gone.
inline constexpr int kModalCloseRetryMs = 50;
void CloseOutsideModalLoops(QObject* context, int main_loop_level, std::function<void()> close);

}  // namespace vantera
