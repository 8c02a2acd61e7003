#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "protocol/nxsdFieldMappers.h"
#include "protocol/nxsdIndexDefs.h"
#include "protocol/nxsdKeys.h"
#include "protocol/workstation_tables.h"

namespace vantera {
namespace {

const TimeStamp kNow{730120, 0};

TEST(WorkstationTables, FieldsSizesAndIndexes) {
  for (TnxFieldType s : {nxtShortString, nxtNullString}) {
    TnxDataDictionary asiakas = AsiakasDictionary(s);
    ASSERT_EQ(asiakas.FieldCount(), 6);
    EXPECT_EQ(asiakas.Field(0).name, "AsNo");
    EXPECT_EQ(asiakas.Field(0).units, 15);
    EXPECT_TRUE(asiakas.Field(0).required);
    EXPECT_EQ(asiakas.Field(1).units, 35);
    EXPECT_TRUE(asiakas.Field(1).required);
    EXPECT_FALSE(asiakas.Field(2).required);
    EXPECT_EQ(asiakas.Field(5).name, "KatuOsoite2");
    EXPECT_EQ(asiakas.Field(5).type, s);
    // 16 + 36 + 6 + 26 + 31 + 31 = 146, rounded to 148, plus one flag word.
    EXPECT_EQ(asiakas.RecordLength(), 152);

    TnxDataDictionary kortti = KorttiDictionary(s);
    EXPECT_EQ(kortti.FieldCount(), 5);
    EXPECT_EQ(kortti.Field(kortti.FieldNumber("AikaLeima")).type, nxtDateTime);
    EXPECT_FALSE(kortti.Field(kortti.FieldNumber("YrNo")).required);

    TnxDataDictionary assormi = AssormiDictionary(s);
    EXPECT_EQ(assormi.Field(assormi.FieldNumber("Maara")).type, nxtInt32);
    EXPECT_EQ(assormi.Field(assormi.FieldNumber("Jalki")).type, nxtBlob);
    EXPECT_FALSE(assormi.Field(assormi.FieldNumber("KorttiLyh")).required);

    // The dictionaries travel: written and read back, they are the same.
    for (const std::string& name : WorkstationTableNames()) {
      TnxDataDictionary d;
      ASSERT_TRUE(WorkstationTableDictionary(name, s, &d));
      TnxDataDictionary back;
      back.ReadFromBytes(d.ToBytes());
      EXPECT_EQ(back.ToBytes(), d.ToBytes()) << name;
    }
    TnxDataDictionary none;
    EXPECT_FALSE(WorkstationTableDictionary("MUU", s, &none));

    // The indexes the workflows choose by field name.
    auto a = BuildIndexDefinitions(asiakas);
    EXPECT_EQ(a[static_cast<size_t>(FindIndexForFields(a, "asno"))].name, "ixAsNo");
    EXPECT_EQ(a[static_cast<size_t>(FindIndexForFields(a, "AsNimi"))].case_insensitive_fields,
              "AsNimi");
    auto k = BuildIndexDefinitions(kortti);
    for (const char* f : {"KorttiNro", "AsNo", "KorttiLyh"})
      EXPECT_GE(FindIndexForFields(k, f), 1) << f;
    auto s_defs = BuildIndexDefinitions(assormi);
    EXPECT_EQ(s_defs[static_cast<size_t>(FindIndexForFields(s_defs, "KorttiLyh"))].fields,
              "KorttiLyh");
    EXPECT_EQ(s_defs[static_cast<size_t>(FindIndexForFields(s_defs, "AsNo"))].fields, "AsNo");
    EXPECT_FALSE(s_defs[1].unique);
  }
  EXPECT_THROW(AsiakasDictionary(nxtInt32), std::invalid_argument);
}

TEST(IndexDefinitions, FlagsAndChoiceByFieldNames) {
  TnxDataDictionary d;
  d.AddField("AsNo", nxtShortString, 15);
  d.AddField("KorttiLyh", nxtShortString, 16);
  d.AddField("Nimi", nxtNullString, 20);
  d.AddCompositeIndex("both", {"AsNo", "KorttiLyh"}, true);
  d.AddCompositeIndex("asno", {"AsNo"}, false);
  d.AddCompositeIndex("nimi", {"Nimi"}, true, true);
  auto desc = std::make_unique<TnxCompKeyDescriptor>();
  desc->key_fields.push_back(std::make_unique<TnxKeyFieldDescriptor>());
  desc->key_fields.back()->field_number = 1;
  desc->key_fields.back()->ascending = false;
  d.AddIndex("lyhdesc", std::move(desc), true);
  d.SetDefaultIndex(2);
  d.Check();

  auto defs = BuildIndexDefinitions(d);
  ASSERT_EQ(defs.size(), 5u);
  EXPECT_EQ(defs[0].fields, "");
  EXPECT_FALSE(defs[0].descending);
  EXPECT_EQ(defs[1].fields, "AsNo;KorttiLyh");
  EXPECT_TRUE(defs[2].unique);
  EXPECT_TRUE(defs[2].primary);
  EXPECT_FALSE(defs[1].primary);
  EXPECT_TRUE(defs[3].case_insensitive);
  EXPECT_EQ(defs[3].case_insensitive_fields, "Nimi");
  EXPECT_TRUE(defs[4].descending);
  EXPECT_EQ(defs[4].descending_fields, "KorttiLyh");
  // Exact field list first, even behind a longer one; then a leading part; never descending.
  EXPECT_EQ(FindIndexForFields(defs, "ASNO"), 2);
  EXPECT_EQ(FindIndexForFields(defs, "asno;korttilyh"), 1);
  EXPECT_EQ(FindIndexForFields(defs, "KorttiLyh"), -1);
  EXPECT_EQ(FindIndexForFields(defs, "AsN"), -1);
  EXPECT_EQ(FindIndexForFields(defs, ""), -1);
}

class KeyOrder : public ::testing::TestWithParam<TnxFieldType> {};

TEST_P(KeyOrder, TextCaseDescendingNullsAndPartialKeys) {
  TnxFieldType s = GetParam();
  TnxDataDictionary d;
  d.AddField("Nimi", s, 10);
  d.AddField("Maara", nxtInt32);
  d.AddCompositeIndex("nocase", {"Nimi", "Maara"}, true, true);
  d.AddCompositeIndex("case", {"Nimi"}, true, false);
  auto key = std::make_unique<TnxCompKeyDescriptor>();
  key->key_fields.push_back(std::make_unique<TnxKeyFieldDescriptor>());
  key->key_fields.back()->field_number = 1;
  key->key_fields.back()->ascending = false;
  d.AddIndex("maaradesc", std::move(key), true);
  d.Check();
  auto nimi = CreateFieldMapper(d, 0);
  auto maara = CreateFieldMapper(d, 1);
  auto rec = [&](const FieldValue& n, const FieldValue& m) {
    Bytes r = d.NewRecord(kNow);
    nimi->Write(r, n);
    maara->Write(r, m);
    return r;
  };
  KeyComparer nocase(d, 1);
  KeyComparer with_case(d, 2);
  KeyComparer desc(d, 3);
  EXPECT_EQ(nocase.KeyLength(), d.KeyLength(1));

  Bytes upper = rec(std::string("\xC4ITI"), int64_t{1});  // "ÄITI"
  Bytes lower = rec(std::string("\xE4iti"), int64_t{1});  // "äiti"
  Bytes lower2 = rec(std::string("\xE4iti"), int64_t{2});
  Bytes abc = rec(std::string("abc"), int64_t{-5});
  Bytes abd = rec(std::string("abd"), FieldValue{});
  Bytes null_name = rec(FieldValue{}, int64_t{0});

  EXPECT_EQ(nocase.CompareRecords(upper, lower, 1), 0);
  EXPECT_LT(nocase.CompareRecords(upper, lower2), 0);
  EXPECT_LT(with_case.CompareRecords(upper, lower), 0);  // 0xC4 before 0xE4
  EXPECT_LT(nocase.CompareRecords(abc, abd), 0);
  EXPECT_EQ(nocase.CompareRecords(abc, abd, 1, 2), 0);  // "ab" = "ab"
  EXPECT_LT(nocase.CompareRecords(null_name, abc), 0);  // null first
  EXPECT_GT(nocase.CompareRecords(abc, null_name), 0);
  // Descending integers: 2 before 1 before -5, and a null last.
  EXPECT_LT(desc.CompareRecords(lower2, lower), 0);
  EXPECT_LT(desc.CompareRecords(lower, abc), 0);
  EXPECT_LT(desc.CompareRecords(abc, abd), 0);

  // Extracted keys compare as their records do.
  std::vector<Bytes> records = {upper, lower, lower2, abc, abd, null_name};
  for (const Bytes& a : records) {
    for (const Bytes& b : records) {
      Bytes ka = nocase.ExtractKey(a);
      Bytes kb = nocase.ExtractKey(b);
      ASSERT_EQ(ka.size(), static_cast<size_t>(nocase.KeyLength()));
      EXPECT_EQ(nocase.CompareKeys(ka, kb), nocase.CompareRecords(a, b));
      EXPECT_EQ(nocase.CompareKeys(ka, kb, 1, 1), nocase.CompareRecords(a, b, 1, 1));
    }
  }
  // Sorting by the comparer gives the index order.
  std::sort(records.begin(), records.end(),
            [&](const Bytes& a, const Bytes& b) { return nocase.CompareRecords(a, b) < 0; });
  EXPECT_EQ(records[0], null_name);
  EXPECT_EQ(records[1], abc);
  EXPECT_EQ(records[2], abd);
  EXPECT_EQ(records[5], lower2);

  EXPECT_THROW(nocase.CompareRecords(abc, abc.substr(1)), EnxDataDictionaryException);
  KeyComparer seq(d, 0);
  EXPECT_EQ(seq.KeyFieldCount(), 0);
  EXPECT_EQ(seq.KeyLength(), 8);
  EXPECT_EQ(seq.CompareRecords(abc, abd), 0);
}

INSTANTIATE_TEST_SUITE_P(StringTypes, KeyOrder, ::testing::Values(nxtShortString, nxtNullString));

}  // namespace
}  // namespace vantera

namespace vantera {
namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

// Byte order of sortable keys against the comparison, over records of every key type whose
// bytes come from a small alphabet (so that ties, zeros, NaNs and signs all occur).
TEST(SortableKeys, ByteOrderIsIndexOrder) {
  const TnxFieldType types[] = {nxtBoolean,   nxtInt8,        nxtInt16,      nxtInt32,
                                nxtInt64,     nxtWord16,      nxtWord32,     nxtSingle,
                                nxtDouble,    nxtExtended,    nxtCurrency,   nxtDate,
                                nxtDateTime,  nxtShortString, nxtNullString, nxtWideString,
                                nxtByteArray, nxtChar,        nxtBlob};
  TnxDataDictionary d;
  std::vector<std::string> all;
  for (TnxFieldType t : types) {
    all.push_back(FieldTypeName(t));
    d.AddField(all.back(), t, 3);
  }
  for (size_t i = 0; i < all.size(); ++i) {
    d.AddCompositeIndex("asc" + all[i], {all[i]}, true, i % 2 == 0);
    auto& desc = d.AddCompositeIndex("desc" + all[i], {all[i]}, true, true);
    desc.CompKey()->key_fields[0]->ascending = false;
  }
  d.AddCompositeIndex("every", all, true, true);
  d.Check();

  std::mt19937 rng(12345);
  const unsigned char alphabet[] = {0x00, 0x01, 0x41, 0x61, 0x80, 0xC4, 0xE4, 0xFF};
  auto random_record = [&] {
    Bytes r = d.NewRecord(kNow);
    for (size_t i = 0; i < r.size(); ++i)
      r[i] = static_cast<char>(alphabet[rng() % sizeof alphabet]);
    return r;
  };
  std::vector<Bytes> records;
  for (int i = 0; i < 120; ++i)
    records.push_back(random_record());

  int ties = 0;
  int prefix_checks = 0;
  for (int ix = 1; ix < d.IndexCount(); ++ix) {
    KeyComparer keys(d, ix);
    for (size_t a = 0; a < records.size(); ++a) {
      Bytes ka = keys.SortableKey(records[a]);
      for (size_t b = a; b < records.size(); b += 7) {
        int want = Sign(keys.CompareRecords(records[a], records[b]));
        ties += want == 0 && a != b;
        ASSERT_EQ(Sign(ka.compare(keys.SortableKey(records[b]))), want)
            << d.Index(ix).name << " records " << a << ", " << b;
        if (keys.KeyFieldCount() == 1 && IsStringType(d.Field((ix - 1) / 2).type)) {
          Bytes prefix = keys.SortableKey(records[b], 1, 2);
          ++prefix_checks;
          EXPECT_EQ(ka.compare(0, prefix.size(), prefix) == 0,
                    keys.CompareRecords(records[a], records[b], 1, 2) == 0);
        }
      }
    }
  }
  EXPECT_GT(ties, 0);  // the alphabet does produce equal keys
  EXPECT_GT(prefix_checks, 0);
}

}  // namespace
}  // namespace vantera
