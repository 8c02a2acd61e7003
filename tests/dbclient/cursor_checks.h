// The table cursor checks shared by the in-process engine tests and the tests against the
// real kantadb-server over each transport. Each check starts from empty tables of a
// database that is set up (alias given, session able to open) and uses gtest assertions.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/nxdb.h"
#include "protocol/nxllException.h"

namespace vantera::testing {

inline std::unique_ptr<TnxTable> CursorTable(TnxDatabase& database, const char* name,
                                             const char* table, const char* index = "") {
  auto t = std::make_unique<TnxTable>(name);
  t->SetDatabase(&database);
  t->SetTableName(table);
  if (*index)
    t->SetIndexFieldNames(index);
  return t;
}

inline void AddFingerprint(TnxTable& t, const std::string& as_no, const std::string& kortti,
                           int32_t maara, const Bytes& templ = {}) {
  t.Append();
  t.FieldByName("AsNo").SetAsString(as_no);
  t.FieldByName("KorttiLyh").SetAsString(kortti);
  t.FieldByName("Maara").SetAsInteger(maara);
  if (!templ.empty()) {
    TMemoryStream s(templ);
    t.FieldByName("Jalki").LoadFromStream(s);
  }
  t.Post();
}

inline std::vector<std::string> WalkField(TnxTable& t, const char* field) {
  std::vector<std::string> out;
  for (int guard = 0; !t.Eof() && guard < 1000; ++guard) {
    out.push_back(t.FieldByName(field).AsString());
    t.Next();
  }
  return out;
}

// Key order, ranges (exact and prefix), index switching, FindByKey, edit and delete.
inline void CheckIndexOrderRangesAndKeyLookup(TnxDatabase& database) {
  auto sormi = CursorTable(database, "TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  EXPECT_TRUE(sormi->Eof());
  AddFingerprint(*sormi, "              3", "K2", 1);
  AddFingerprint(*sormi, "              1", "K1", 2);
  AddFingerprint(*sormi, "              2", "K2", 3);
  AddFingerprint(*sormi, "              4", "K3", 4);
  AddFingerprint(*sormi, "              5", "K22", 5);
  sormi->First();
  EXPECT_EQ(WalkField(*sormi, "Maara"), (std::vector<std::string>{"2", "1", "3", "5", "4"}));

  sormi->SetRangeBounds({std::string("K2")}, {std::string("K2")});
  EXPECT_EQ(WalkField(*sormi, "Maara"), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(sormi->RecordCount(), 2);
  sormi->SetRangeBounds({std::string("K9")}, {std::string("K9")});
  EXPECT_TRUE(sormi->Eof());
  sormi->SetRangeBounds({std::string("K2\0", 3)}, {std::string("K2\xFF")});
  EXPECT_EQ(WalkField(*sormi, "Maara"), (std::vector<std::string>{"1", "3", "5"}));
  sormi->DropKeyRange();
  sormi->First();
  EXPECT_EQ(WalkField(*sormi, "Maara").size(), 5u);

  // Switching to "asno" keeps the active record and orders by AsNo.
  sormi->First();
  sormi->Next();  // Maara 1 (AsNo 3)
  sormi->SetIndexFieldNames("asno");
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 1);
  EXPECT_EQ(sormi->CurrentIndexName(), "ixAsNo");
  sormi->First();
  EXPECT_EQ(WalkField(*sormi, "Maara"), (std::vector<std::string>{"2", "3", "1", "4", "5"}));

  EXPECT_TRUE(sormi->FindByKey({std::string("              4")}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K3");
  EXPECT_FALSE(sormi->FindByKey({std::string("              9")}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K3");
  sormi->Next();
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 5);

  // Edit and post rewrite the record; delete removes it.
  sormi->Edit();
  sormi->FieldByName("Maara").SetAsInteger(55);
  sormi->Post();
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 55);
  sormi->Delete();
  EXPECT_EQ(sormi->RecordCount(), 4);
}

// A detail cursor on KORTTI follows its master on ASIAKAS.
inline void CheckMasterAndDetailOnAsiakasAndKortti(TnxDatabase& database) {
  auto asiakas = CursorTable(database, "TblAsiakas", "ASIAKAS", "AsNo");
  auto kortti = CursorTable(database, "TblKortti", "KORTTI", "AsNo");
  asiakas->Open();
  kortti->Open();
  for (const char* no : {"          12345", "          12346"}) {
    asiakas->Append();
    asiakas->FieldByName("AsNo").SetAsString(no);
    asiakas->FieldByName("AsNimi").SetAsString(std::string("Asiakas ") + no);
    asiakas->Post();
  }
  int n = 0;
  for (const char* no : {"          12345", "          12346", "          12345"}) {
    kortti->Append();
    kortti->FieldByName("KorttiNro").SetAsString("100000000000000" + std::to_string(n));
    kortti->FieldByName("KorttiLyh").SetAsString("L" + std::to_string(n++));
    kortti->FieldByName("AsNo").SetAsString(no);
    kortti->Post();
  }
  kortti->Close();

  auto master = CursorTable(database, "TblMaster", "ASIAKAS", "AsNo");
  auto detail = CursorTable(database, "TblDetail", "KORTTI", "AsNo");
  detail->SetMasterSource(master.get());
  detail->SetMasterFields("AsNo");
  master->Open();
  detail->Open();
  EXPECT_EQ(master->FieldByName("AsNo").AsString(), "          12345");
  EXPECT_EQ(WalkField(*detail, "KorttiLyh"), (std::vector<std::string>{"L0", "L2"}));
  master->Next();
  EXPECT_EQ(WalkField(*detail, "KorttiLyh"), (std::vector<std::string>{"L1"}));
  detail->Append();
  EXPECT_EQ(detail->FieldByName("AsNo").AsString(), "          12346");
  detail->Cancel();
  master->Close();
  EXPECT_FALSE(detail->RangeInForce());
  detail->First();
  EXPECT_EQ(WalkField(*detail, "KorttiLyh").size(), 3u);
}

// A post without the required fields is refused and leaves the insert state; blobs of
// several sizes come back whole, and an edited record's blob is rewritten.
inline void CheckAppendWithRequiredFieldsAndBlobs(TnxDatabase& database) {
  auto sormi = CursorTable(database, "TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  sormi->Append();
  sormi->FieldByName("KorttiLyh").SetAsString("K1");
  EXPECT_THROW(sormi->Post(), EnxDatabaseError);
  EXPECT_EQ(sormi->DataSetState(), TnxDataSetState::Insert);
  sormi->Cancel();
  EXPECT_EQ(sormi->RecordCount(), 0);

  Bytes small(1000, 'a');
  Bytes large(700000, '\0');
  for (size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 7);
  AddFingerprint(*sormi, "              1", "K1", 1, small);
  AddFingerprint(*sormi, "              2", "K2", 2, large);
  AddFingerprint(*sormi, "              3", "K3", 3);
  sormi->First();
  for (const Bytes* expected : {&small, &large}) {
    TMemoryStream out;
    sormi->FieldByName("Jalki").SaveToStream(out);
    EXPECT_TRUE(out.Data() == *expected);
    sormi->Next();
  }
  TMemoryStream none;
  sormi->FieldByName("Jalki").SaveToStream(none);
  EXPECT_TRUE(none.Data().empty());

  // Rewriting a blob of an edited record goes through its cache and a transaction.
  sormi->First();
  sormi->Edit();
  TMemoryStream replacement("shorter");
  sormi->FieldByName("Jalki").LoadFromStream(replacement);
  sormi->Post();
  TMemoryStream back;
  sormi->FieldByName("Jalki").SaveToStream(back);
  EXPECT_EQ(back.Data(), "shorter");
}

// After `lose` cuts the connection, the next request fails with `expected` (11276 where
// the transport reports the lost connection itself) and the cursor stays open and closes
// cleanly.
inline void CheckLostConnection(TnxDatabase& database, TnxSession& session,
                                const std::function<void()>& lose, uint32_t expected = 11276) {
  auto sormi = CursorTable(database, "TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  AddFingerprint(*sormi, "              1", "K1", 1);
  lose();
  try {
    sormi->First();
    sormi->FieldByName("Maara").AsInteger();
    FAIL() << "no error on a lost connection";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), expected);
  }
  EXPECT_TRUE(sormi->Active());
  EXPECT_NO_THROW(sormi->Close());
  EXPECT_NO_THROW(session.Close());
}

}  // namespace vantera::testing
