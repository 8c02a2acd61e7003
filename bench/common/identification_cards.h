// The database of an identification benchmark: six waiting cards holding 600 stored
// enrolment templates in all, none of them the captured finger's, so that a pass reads and
// compares every record. The templates come from rendered finger images through the
// extractor, as the reader makes them (a few distinct fingers, each stored many times, keep
// the set-up short).
#pragma once

#include <string>
#include <vector>

#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/workflow_view.h"
#include "msglink/card_message_table.h"

namespace vantera {
class TnxDatabase;
}

namespace vantera::bench {

inline constexpr int kCards = 6;
inline constexpr int kPerCard = 100;  // 600 templates in all

// A view that keeps only the pass's summary line.
class NullView : public WorkflowView {
 public:
  void SetText(std::string_view, const std::string&) override {}
  std::string Text(std::string_view) const override { return {}; }
  void SetEnabled(std::string_view, bool) override {}
  void AddLine(std::string_view, const std::string&) override {}
  void ClearLines(std::string_view) override {}
  void StartControl(std::string_view) override {}
  void StopControl(std::string_view) override {}
  void WriteLog(const std::string& text, bool always) override {
    if (always)
      last_summary = text;
  }
  std::string last_summary;
};

// The short number of card `card` (0..kCards-1).
std::string CardKey(int card);

// Appends the 600 records to ASSORMI of `database` (open or not); returns their template
// bytes in the order stored.
std::vector<Bytes> FillCards(TnxDatabase& database);

// A card message for every card, as the message server would have sent them.
void AddCardMessages(CardMessageTable& messages);

// The capture of a finger that is stored nowhere.
IFPTemplate StrangerCapture();

}  // namespace vantera::bench
