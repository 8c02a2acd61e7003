// Shared by the cursor walk benchmarks: the walk's 600 records, and the identification-shaped
// walk itself. They run against bench::ServerChild (bench/common/server_child.h).
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "bench/common/server_child.h"
#include "dbclient/nxdb.h"

namespace vantera::bench {

constexpr int kWalkRecords = 600;
inline const char* const kWalkCard = "BENCHCARD0000001";

// Appends the walk's records to ASSORMI: one card short number, 1 KiB templates.
inline void FillWalkTable(TnxDatabase& database) {
  TnxTable t("TblAsSormi");
  t.SetDatabase(&database);
  t.SetTableName("ASSORMI");
  t.Open();
  Bytes templ(1024, '\x5A');
  for (int i = 0; i < kWalkRecords; ++i) {
    t.Append();
    t.FieldByName("AsNo").SetAsString(std::to_string(100000 + i));
    t.FieldByName("KorttiLyh").SetAsString(kWalkCard);
    TMemoryStream s(templ);
    t.FieldByName("Jalki").LoadFromStream(s);
    t.Post();
  }
  t.Close();
}

// One walk: open ASSORMI on KorttiLyh, range on the card, read AsNo and save Jalki into
// a stream for each record; returns the records seen.
inline int64_t WalkOnce(TnxDatabase& database, benchmark::State& state) {
  int64_t records = 0;
  TnxTable t("TblAsSormi");
  t.SetDatabase(&database);
  t.SetTableName("ASSORMI");
  t.SetIndexFieldNames("KorttiLyh");
  t.Open();
  t.SetRangeBounds({std::string(kWalkCard)}, {std::string(kWalkCard)});
  for (; !t.Eof(); t.Next()) {
    benchmark::DoNotOptimize(t.FieldByName("AsNo").AsString());
    TMemoryStream jalki;
    t.FieldByName("Jalki").SaveToStream(jalki);
    if (jalki.Size() != 1024)
      state.SkipWithError("template of the wrong size");
    ++records;
  }
  t.Close();
  return records;
}

}  // namespace vantera::bench
