// CursorLocate on the server engine in process: the filter expression's scan in the
// cursor's order and range, the options, and hostile payloads.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "protocol/locate_filter.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

class LocateRequests : public ::testing::TestWithParam<std::tuple<StorageKind, TnxFieldType>> {
 protected:
  LocateRequests()
      : storage_(std::get<0>(GetParam())),
        engine_(storage_.Options(std::get<1>(GetParam()))),
        a_(engine_, 1) {
    if (!storage_.available())
      return;
    storage_.Prepare(std::get<1>(GetParam()));
    db_ = a_.OpenDatabase();
    c_ = a_.OpenTable(db_, "ASIAKAS");
  }
  void SetUp() override { VANTERA_SKIP_UNAVAILABLE(storage_); }

  void AddCustomer(const std::string& no, const std::string& name, const std::string& street,
                   const std::string& post) {
    Bytes rec = c_.dict->NewRecord();
    SetText(*c_.dict, &rec, "AsNo", no);
    SetText(*c_.dict, &rec, "AsNimi", name);
    SetText(*c_.dict, &rec, "KatuOsoite1", street);
    SetText(*c_.dict, &rec, "PostiNo", post);
    ASSERT_EQ(a_.Insert(c_, rec), 0u);
  }

  LocateFilter Filter(const Values& values, bool ignore_case = false, int32_t partial = 0) {
    LocateFilter f;
    f.case_insensitive = ignore_case;
    f.partial_length = partial;
    f.image = c_.dict->NewRecord();
    for (const auto& [field, text] : values) {
      f.field_names.push_back(field);
      SetText(*c_.dict, &f.image, field, text);
    }
    return f;
  }

  uint32_t Send(const Bytes& expression) {
    return a_.Call(nxmsg::kCursorLocate, ObjectBytesRequest{c_.id, expression}.Encode()).code;
  }
  uint32_t Locate(const Values& values, bool ignore_case = false, int32_t partial = 0) {
    return Send(Filter(values, ignore_case, partial).Encode());
  }
  // The customer number of the cursor's current record, or the error code.
  std::string Current() {
    EngineReply r = a_.Get(nxmsg::kRecordGet, c_);
    return r.code == 0 ? GetText(*c_.dict, r.data, "AsNo") : std::to_string(r.code);
  }

  TestStorage storage_;
  ServerEngine engine_;
  TestClient a_;
  int32_t db_ = 0;
  OpenCursor c_;
};

TEST_P(LocateRequests, FirstMatchInTheCursorsOrderAndRange) {
  AddCustomer("            100", "Virtanen Ville", "Kauppakatu 1", "00100");
  AddCustomer("            200", "\xE4ij\xE4l\xE4 Aino", "\xC4ij\xE4nkatu 5", "00100");
  AddCustomer("            300", "Ohman Olli", "Kauppakatu 12", "00200");
  AddCustomer("            400", "Aalto Aapo", "Kauppakatu 1", "00200");
  ASSERT_EQ(a_.SwitchIndex(c_, "ixAsNo"), 0u);

  // Whole values: "Kauppakatu 1" is not a match for "Kauppakatu 12".
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 12"}}), 0u);
  EXPECT_EQ(Current(), "            300");
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 1"}}), 0u);
  EXPECT_EQ(Current(), "            100");
  // Every field must match; field names without regard to case.
  EXPECT_EQ(Locate({{"katuosoite1", "Kauppakatu 1"}, {"PostiNo", "00200"}}), 0u);
  EXPECT_EQ(Current(), "            400");
  // The cursor moves on to the next records from there.
  EXPECT_EQ(GetText(*c_.dict, a_.Get(nxmsg::kRecordGetPrior, c_).data, "AsNo"), "            300");

  // None: 8710 and the cursor stays on its record.
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 12"}, {"PostiNo", "00100"}}), 8710u);
  EXPECT_EQ(Current(), "            300");

  // Partial: the first 12 characters; in name order (ignore case) Aalto comes first.
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 1"}}, false, 12), 0u);
  EXPECT_EQ(Current(), "            100");
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu"}}, false, 10), 0u);
  EXPECT_EQ(Current(), "            100");
  ASSERT_EQ(a_.SwitchIndex(c_, "ixAsNimi"), 0u);
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 1"}}, false, 12), 0u);
  EXPECT_EQ(Current(), "            400");
  // 13 characters: the shorter "Kauppakatu 1" ends before them and is no match.
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 12"}}, false, 13), 0u);
  EXPECT_EQ(Current(), "            300");

  // Case: stored bytes compared as they are, or both upper-cased in Windows-1252
  // (\xE4 a diaeresis becomes \xC4).
  EXPECT_EQ(Locate({{"KatuOsoite1", "\xC4IJ\xC4NKATU 5"}}), 8710u);
  EXPECT_EQ(Locate({{"KatuOsoite1", "\xC4IJ\xC4NKATU 5"}}, true), 0u);
  EXPECT_EQ(Current(), "            200");
  EXPECT_EQ(Locate({{"KatuOsoite1", "kauppakatu 12"}}, true, 11), 0u);
  EXPECT_EQ(Current(), "            400");

  // From the start of the range only: customers 200..300 on ixAsNo.
  ASSERT_EQ(a_.SwitchIndex(c_, "ixAsNo"), 0u);
  RangeEnd lo;
  lo.field_count = 1;
  lo.key = c_.dict->NewRecord();
  SetText(*c_.dict, &lo.key, "AsNo", "            200");
  RangeEnd hi = lo;
  SetText(*c_.dict, &hi.key, "AsNo", "            300");
  ASSERT_EQ(a_.SetRange(c_, lo, hi), 0u);
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 1"}}, false, 12), 0u);
  EXPECT_EQ(Current(), "            300");
  EXPECT_EQ(Locate({{"KatuOsoite1", "Kauppakatu 1"}}), 8710u);
  EXPECT_EQ(Current(), "            300");
}

TEST_P(LocateRequests, MalformedExpressionsAre9986) {
  AddCustomer("            100", "Virtanen Ville", "Kauppakatu 1", "00100");
  ASSERT_EQ(a_.SwitchIndex(c_, "ixAsNo"), 0u);
  Bytes good = Filter({{"KatuOsoite1", "Kauppakatu 1"}}).Encode();
  ASSERT_EQ(Send(good), 0u);
  // Every cut of a good expression, and bytes after it.
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_EQ(Send(good.substr(0, n)), 9986u) << "cut at " << n;
  EXPECT_EQ(Send(good + '\x00'), 9986u);
  // A field the table lacks, and an image of the wrong size.
  LocateFilter f = Filter({{"KatuOsoite1", "Kauppakatu 1"}});
  f.field_names[0] = "EiOle";
  EXPECT_EQ(Send(f.Encode()), 9986u);
  f = Filter({{"KatuOsoite1", "Kauppakatu 1"}});
  f.image.pop_back();
  EXPECT_EQ(Send(f.Encode()), 9986u);
  // No cursor id at all, and an unknown cursor.
  EXPECT_EQ(a_.Call(nxmsg::kCursorLocate, Bytes("\x01\x00", 2)).code, 9986u);
  EXPECT_NE(a_.Call(nxmsg::kCursorLocate, ObjectBytesRequest{c_.id + 999, good}.Encode()).code, 0u);
  // The cursor survived all of it.
  EXPECT_EQ(Current(), "            100");
}

INSTANTIATE_TEST_SUITE_P(StorageAndStringTypes, LocateRequests,
                         ::testing::Combine(::testing::ValuesIn(StorageKinds()),
                                            ::testing::Values(nxtShortString, nxtNullString)),
                         [](const auto& p) {
                           return StorageName(std::get<0>(p.param)) +
                                  (std::get<1>(p.param) == nxtShortString ? "ShortString"
                                                                          : "NullString");
                         });

}  // namespace
}  // namespace vantera::testing
