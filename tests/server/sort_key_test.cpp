// Sort keys must order records exactly as the dictionary's key comparison does, and a key
// prefix must select exactly the records that compare equal on the leading fields.
#include "server/engine/sort_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "protocol/nxsdDescriptors.h"
#include "protocol/nxsdKeys.h"
#include "server/engine/schema_from_dictionary.h"

namespace vantera {
namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

TnxDataDictionary TestDictionary() {
  TnxDataDictionary d;
  d.AddField("S", nxtShortString, 6);
  d.AddField("N", nxtNullString, 6);
  d.AddField("I", nxtInt32);
  d.AddField("D", nxtDouble);
  d.AddField("W", nxtWord16);
  d.AddField("B", nxtBoolean);
  d.AddField("C", nxtCurrency);
  auto descending = [&d](int index, std::vector<int> fields) {
    auto* comp = dynamic_cast<TnxCompKeyDescriptor*>(d.Index(index).key.get());
    for (int f : fields)
      comp->key_fields[static_cast<size_t>(f)]->ascending = false;
  };
  d.AddCompositeIndex("ixSI", {"S", "I"}, true, true);
  descending(1, {1});
  d.AddCompositeIndex("ixNDW", {"N", "D", "W"}, true, false);
  descending(2, {2});
  d.AddCompositeIndex("ixBCS", {"B", "C", "S"}, true, true);
  descending(3, {1, 2});
  return d;
}

Bytes RandomRecord(const TnxDataDictionary& d, std::mt19937& rng) {
  // Letters that upper-case onto each other, a-diaeresis and A-diaeresis, a blank.
  static const char kChars[] = {'a', 'b', 'A', 'B', '\xE4', '\xC4', 'z', ' '};
  Bytes rec = d.NewRecord();
  std::span<char> span(rec.data(), rec.size());
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int f = 0; f < d.FieldCount(); ++f) {
    if (pick(6) == 0)
      continue;  // stays null
    const TnxFieldDescriptor& fd = d.Field(f);
    Bytes v(static_cast<size_t>(fd.length), '\0');
    switch (fd.type) {
      case nxtShortString:
      case nxtNullString: {
        int len = pick(5);
        size_t at = fd.type == nxtShortString ? 1 : 0;
        for (int i = 0; i < len; ++i)
          v[at + static_cast<size_t>(i)] = kChars[pick(8)];
        if (fd.type == nxtShortString)
          v[0] = static_cast<char>(len);
        break;
      }
      case nxtDouble: {
        double x = (pick(9) - 4) * 0.75;
        if (pick(10) == 0)
          x = -0.0;
        std::memcpy(v.data(), &x, 8);
        break;
      }
      case nxtBoolean:
        v[0] = static_cast<char>(pick(2) ? 0xFF : 0);
        break;
      default:
        for (auto& c : v)
          c = static_cast<char>(pick(3) == 0 ? 0xFF : pick(3));
    }
    d.SetFieldBytes(span, f, v);
  }
  return rec;
}

TEST(SortKey, OrdersAsTheDictionaryKeyComparisonOnEveryIndex) {
  TnxDataDictionary d = TestDictionary();
  TableSchema schema = SchemaFromDictionary(d);
  std::mt19937 rng(20261209);
  std::vector<Bytes> records;
  for (int i = 0; i < 150; ++i)
    records.push_back(RandomRecord(d, rng));
  for (int ix = 1; ix < d.IndexCount(); ++ix) {
    SCOPED_TRACE(ix);
    const IndexLayout& index = schema.indexes[static_cast<size_t>(ix)];
    KeyComparer cmp(d, ix);
    std::vector<Bytes> keys;
    for (const Bytes& r : records)
      keys.push_back(RecordSortKey(schema, index, r, 1));
    int mismatches = 0;
    for (size_t a = 0; a < records.size(); ++a)
      for (size_t b = 0; b < records.size(); ++b)
        if (Sign(keys[a].compare(keys[b])) != Sign(cmp.CompareRecords(records[a], records[b])))
          ++mismatches;
    EXPECT_EQ(mismatches, 0);
    // Leading fields and partial text: the prefix selects exactly the equal records.
    for (int fields = 1; fields <= cmp.KeyFieldCount(); ++fields) {
      for (int partial : {0, 1, 2, 3}) {
        int wrong = 0;
        for (size_t a = 0; a < records.size(); a += 7) {
          Bytes prefix = KeyPrefix(schema, index, records[a], fields, partial);
          for (size_t b = 0; b < records.size(); ++b) {
            bool selected = keys[b].compare(0, prefix.size(), prefix) == 0;
            bool equal = cmp.CompareRecords(records[a], records[b], fields, partial) == 0;
            if (selected != equal)
              ++wrong;
          }
        }
        EXPECT_EQ(wrong, 0) << "fields " << fields << " partial " << partial;
      }
    }
  }
}

TEST(SortKey, TextRulesAndPrefixSuccessor) {
  TnxDataDictionary d;
  d.AddField("S", nxtShortString, 6);
  d.AddCompositeIndex("ixS", {"S"}, true, true);
  TableSchema schema = SchemaFromDictionary(d);
  auto key = [&](std::string_view text) {
    Bytes rec = d.NewRecord();
    Bytes v(7, '\0');
    v[0] = static_cast<char>(text.size());
    v.replace(1, text.size(), text);
    d.SetFieldBytes(std::span<char>(rec.data(), rec.size()), 0, v);
    return RecordSortKey(schema, schema.indexes[1], rec, 1);
  };
  EXPECT_EQ(key("ab"), Bytes("\x01"
                             "AB\0",
                             4));
  EXPECT_EQ(key("\xE4"), key("\xC4"));  // a-diaeresis equals A-diaeresis without case
  EXPECT_LT(key("Z"), key("\xC4"));
  // Character 255 stays the highest: above every upper-cased letter, also y-diaeresis.
  EXPECT_LT(key("\xD6"), key("\xFF"));
  EXPECT_EQ(key("\x9F"), key("\xFF"));
  // A text ends at a zero byte: "ab" + 0 is "ab", the start of the "ab" prefix range.
  EXPECT_EQ(key(std::string("ab") + '\0'), key("ab"));
  EXPECT_EQ(key("\xFF"), Bytes("\x01\xFF\0", 3));
  // Null sorts first.
  EXPECT_LT(RecordSortKey(schema, schema.indexes[1], d.NewRecord(), 1), key(""));

  EXPECT_EQ(PrefixSuccessor("ab"), Bytes("ac"));
  EXPECT_EQ(PrefixSuccessor(Bytes("a\xFF\xFF")), Bytes("b"));
  EXPECT_FALSE(PrefixSuccessor(Bytes("\xFF\xFF")).has_value());
  EXPECT_FALSE(PrefixSuccessor("").has_value());
  // Reference-number keys are the row number, big-endian.
  IndexLayout ref;
  ref.ref_key = true;
  EXPECT_EQ(RecordSortKey(schema, ref, d.NewRecord(), 0x0102), Bytes("\0\0\0\0\0\0\x01\x02", 8));
}

}  // namespace
}  // namespace vantera
