// TDBMDHaku: a reusable, non-visual search over two tables linked as master and detail.
// RunSearch shows the dialog TFDBHaku modally: the user narrows the master table by
// typing, picks a master record, sees its detail records and confirms one; the detail's
// ValueFld is then returned in Value (and the RetFldList fields in RetValList).
//
// Execute() is RunSearch for callers that want the value itself: the chosen value, or
// nothing when the dialog closed without one.
//
// A run: the dialog is made, its tables bound and its order, sizes and columns set from
// the properties; the tables are opened, the dialog runs, and the tables are closed and
// the dialog freed however the run ends. A database error while opening the tables, or a
// header naming a field that the table lacks, propagates after that clean-up. KeyIndex
// keeps the order the user ended on, so the next run starts on it. RGLeft is adjusted
// (and kept) when the radio group does not fit FormWidth.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "fingerprint/search_rules.h"

namespace vantera {

class TnxDatabase;
class TFDBHaku;

class TDBMDHaku {
 public:
  explicit TDBMDHaku(std::string name = "DBMDHaku");
  virtual ~TDBMDHaku();
  TDBMDHaku(const TDBMDHaku&) = delete;
  TDBMDHaku& operator=(const TDBMDHaku&) = delete;

  const std::string& Name() const { return name_; }

  // Published properties, with their defaults.
  TnxDatabase* Database = nullptr;
  std::string MasterTableName;
  std::string DetailTableName;
  std::string IndexFieldNames;  // index of the detail table, by field names
  std::string MasterFields;     // master fields that the detail index is linked to
  std::string FormCaption;      // empty keeps "Haku"
  std::string RGCaption;        // empty keeps "Järjestys"
  std::string ValueFld;         // detail field whose value is returned
  std::string Value;            // the returned value
  bool EnableHaku = true;       // false hides the search panel
  bool Transliterate = false;   // given to every string field shown
  int FormHeight = 370;
  int FormWidth = 342;
  TextLines MasterHeaders;  // "Field;Title" lines: the master columns shown
  TextLines DetailHeaders;  // the same for the detail
  TextLines RGNameList;     // captions of the order choices
  int RGLeft = 290;
  int RGWidth = 110;
  TextLines IndexList;  // per order choice, the master index's field names (";")
  int KeyIndex = 0;     // chosen order; updated after every run
  TextLines RetFldList;
  TextLines RetValList;
  TextLines KeyRangeFldList;  // master fields held at fixed values during the search
  TextLines KeyRangeValList;

  // Runs the dialog; true when a value was chosen, which then stands in Value.
  virtual bool RunSearch();
  // RunSearch, answered with the chosen value.
  std::optional<std::string> Execute();

  // The system beep given when the dialog cannot be made (QApplication::beep by default).
  std::function<void()> OnBeep;
  // Called once the dialog runs modally (for automation and tests).
  std::function<void(TFDBHaku&)> OnDialogShown;

 protected:
  // Makes the dialog; a failure here gives the beep and the result false.
  virtual std::unique_ptr<TFDBHaku> CreateForm();

 private:
  std::string name_;
};

// The main window's card search: customers (ASIAKAS) and their cards (KORTTI) on
// `database`, returning the card number (KorttiNro); the first run lists by name.
void ConfigureCardSearch(TDBMDHaku& haku, TnxDatabase* database);

}  // namespace vantera
