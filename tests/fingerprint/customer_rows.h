// Test helper: one customer row and one card row written through a table of `database`,
// the way a counter adds them. `as_no` is the customer number without its leading blanks.
#pragma once

#include <string>

#include "dbclient/nxdb.h"

namespace vantera::testing {

inline void AppendCustomerRow(TnxDatabase& database, const std::string& as_no,
                              const std::string& name) {
  TnxTable asiakas("TblAsiakas");
  asiakas.SetDatabase(&database);
  asiakas.SetTableName("ASIAKAS");
  asiakas.Open();
  asiakas.Append();
  asiakas.FieldByName("AsNo").SetAsString(std::string(15 - as_no.size(), ' ') + as_no);
  asiakas.FieldByName("AsNimi").SetAsString(name);
  asiakas.Post();
  asiakas.Close();
}

inline void AppendCardRow(TnxDatabase& database, const std::string& as_no, const std::string& card,
                          const std::string& short_no) {
  TnxTable kortti("TblKortti");
  kortti.SetDatabase(&database);
  kortti.SetTableName("KORTTI");
  kortti.Open();
  kortti.Append();
  kortti.FieldByName("KorttiNro").SetAsString(card);
  kortti.FieldByName("KorttiLyh").SetAsString(short_no);
  kortti.FieldByName("AsNo").SetAsString(std::string(15 - as_no.size(), ' ') + as_no);
  kortti.Post();
  kortti.Close();
}

}  // namespace vantera::testing
