// Windows-1252 texts at the edge of the window: converted for display and input only.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "core/win1252.h"

namespace vantera {

inline QString ToDisplay(std::string_view text) {
  return QString::fromStdString(Win1252ToUtf8(text));
}

inline std::string FromDisplay(const QString& text) {
  return Utf8ToWin1252(text.toStdString());
}

}  // namespace vantera
