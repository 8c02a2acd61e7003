#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "protocol/nxsdDataDictionary.h"
#include "tests/dbclient/hand_stream.h"

namespace vantera {
namespace {

using namespace std::string_literals;
using hand::HandDictionary;
using hand::HandStream;
using hand::ThreeFieldDictionary;

// Reads `bytes` into a dictionary that held a valid table before, expects `code` and the
// message, and that the dictionary is the default one afterwards.
void ExpectReadFails(const Bytes& bytes, uint32_t code, const std::string& text) {
  TnxDataDictionary dict;
  dict.ReadFromBytes(HandStream(ThreeFieldDictionary(2)));
  ASSERT_EQ(dict.FieldCount(), 3);
  try {
    dict.ReadFromBytes(bytes);
    ADD_FAILURE() << "read succeeded, expected " << code;
  } catch (const EnxDataDictionaryException& e) {
    EXPECT_EQ(e.ErrorCode(), code);
    char tag[32];
    std::snprintf(tag, sizeof tag, " [$%X/%u]", code, code);
    EXPECT_EQ(std::string(e.what()), "KantaDB: " + text + tag);
  }
  EXPECT_EQ(dict.ToBytes(), TnxDataDictionary().ToBytes());
  EXPECT_EQ(dict.FieldCount(), 0);
  EXPECT_EQ(dict.RecordLength(), 0);
}

Bytes Replaced(Bytes b, const std::string& from, const std::string& to) {
  size_t at = b.find(from);
  EXPECT_NE(at, Bytes::npos) << from;
  if (at != Bytes::npos)
    b.replace(at, from.size(), to);
  return b;
}

TEST(DictionaryStream, DefaultDictionaryAndItsStream) {
  TnxDataDictionary d;
  EXPECT_EQ(d.Version(), 2);
  EXPECT_EQ(std::string(d.Signature().data(), 4), "NX!1");
  EXPECT_EQ(d.EngineStrings()[0], "");
  EXPECT_EQ(d.EngineStrings()[3], "nx1xDefault");
  ASSERT_EQ(d.FileCount(), 1);
  EXPECT_EQ(d.File(0).extension, "nx1");
  EXPECT_EQ(d.File(0).description, "Data/DataDict File");
  ASSERT_EQ(d.IndexCount(), 1);
  EXPECT_EQ(d.Index(0).name, "Sequential Access Index");
  EXPECT_NE(dynamic_cast<const TnxRefKeyDescriptor*>(d.Index(0).key.get()), nullptr);
  EXPECT_EQ(d.DefaultIndex(), 0);
  EXPECT_EQ(d.BookmarkSize(0), 32);
  EXPECT_EQ(d.BookmarkSize(-1), 24);
  EXPECT_EQ(d.BookmarkSize(1), 24);

  HandDictionary h;
  h.indexes = {{"Sequential Access Index", false, {}, false, 0}};
  EXPECT_EQ(d.ToBytes(), HandStream(h));
}

TEST(DictionaryStream, ReadsAndWritesBothVersionsByteForByte) {
  for (int version : {1, 2}) {
    Bytes stream = HandStream(ThreeFieldDictionary(version));
    TnxDataDictionary d;
    d.ReadFromBytes(stream);
    EXPECT_EQ(d.Version(), version);
    ASSERT_EQ(d.FieldCount(), 3);
    EXPECT_EQ(d.Field(0).name, "AsNo");
    EXPECT_EQ(d.Field(0).type, nxtShortString);
    EXPECT_EQ(d.Field(0).units, 15);
    EXPECT_TRUE(d.Field(0).required);
    EXPECT_EQ(d.Field(1).offset, 16);
    EXPECT_EQ(d.Field(2).length, 8);
    EXPECT_EQ(d.FieldsLength(), 28);
    EXPECT_EQ(d.DataLength(), 28);
    EXPECT_EQ(d.NullOffset(), 28);
    EXPECT_EQ(d.RecordLength(), 32);
    EXPECT_EQ(d.FieldNumber("maara"), 1);
    EXPECT_EQ(d.FieldNumber("Jalki"), -1);
    EXPECT_EQ(d.IndexNumber("IXASNOMAARA"), 1);
    EXPECT_EQ(d.KeyLength(1), 21);
    EXPECT_EQ(d.BookmarkSize(1), 45);
    EXPECT_EQ(d.BookmarkSize(0), 32);
    EXPECT_EQ(d.ToBytes(), stream) << "version " << version;

    TnxDataDictionary copy;
    copy.Assign(d);
    EXPECT_EQ(copy.ToBytes(), stream);
  }
  // Version 1 omits D: the stream is one tagged integer shorter.
  EXPECT_EQ(HandStream(ThreeFieldDictionary(2)).size(),
            HandStream(ThreeFieldDictionary(1)).size() + 2);

  // Storage descriptors and a constant default come back as they went.
  HandDictionary h = ThreeFieldDictionary(2);
  h.heap_record = true;
  h.fields[1].default_class = "TnxConstDefaultValueDescriptor";
  h.fields[1].default_bytes = std::string("\x07\x00\x00\x00", 4);
  h.file_extensions.push_back("nxb");
  Bytes stream = HandStream(h);
  TnxDataDictionary d;
  d.ReadFromBytes(stream);
  const auto* rec = dynamic_cast<const TnxHeapRecordDescriptor*>(d.RecordDescriptor());
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->engine_name, "RecEngine");
  ASSERT_NE(rec->heap, nullptr);
  ASSERT_NE(rec->heap->block_heap, nullptr);
  EXPECT_EQ(rec->heap->block_heap->name, "BlockHeap");
  EXPECT_EQ(d.File(1).file_type, kBlobFileType);
  EXPECT_EQ(d.ToBytes(), stream);

  // Units are settled by the type: an Int32 declared with 99 units reads 10.
  h = ThreeFieldDictionary(2);
  h.fields[1].units = 99;
  d.ReadFromBytes(HandStream(h));
  EXPECT_EQ(d.Field(1).units, 10);
}

TEST(DictionaryStream, MalformedStreamsFailWith15498AndLeaveTheDefault) {
  HandDictionary h = ThreeFieldDictionary(2);
  h.first_ident = "KantaDX";
  ExpectReadFails(HandStream(h), 15498, "Incompatible stream");
  h = ThreeFieldDictionary(3);
  ExpectReadFails(HandStream(h), 15498, "Incompatible stream");
  h = ThreeFieldDictionary(0);
  ExpectReadFails(HandStream(h), 15498, "Incompatible stream");

  Bytes good = HandStream(ThreeFieldDictionary(2));
  // A part version other than 1, a wrong section identifier, a string where a Boolean is.
  ExpectReadFails(
      Replaced(good, "\x02\x01\x01\x00\x02\x01\x06\x00"s, "\x02\x02\x01\x00\x02\x01\x06\x00"s),
      15498, "Incompatible stream");
  ExpectReadFails(Replaced(good, "BlobDescriptor", "BlobDescriptoR"), 15498, "Incompatible stream");
  ExpectReadFails(Replaced(good,
                           "\x07\x0E"
                           "BlobDescriptor\x08",
                           "\x07\x0E"
                           "BlobDescriptor\x06"),
                  15498, "Incompatible stream");
  // A field count beyond the bytes left.
  ExpectReadFails(Replaced(good, "FieldDescriptor\x02\x03", "FieldDescriptor\x02\x7F"), 15498,
                  "Incompatible stream");
  ExpectReadFails(Replaced(good, "FieldDescriptor\x02\x03", "FieldDescriptor\x02\xFF"), 15498,
                  "Incompatible stream");

  // Every truncated prefix.
  for (size_t n = 0; n < good.size(); ++n) {
    TnxDataDictionary d;
    try {
      d.ReadFromBytes(std::string_view(good).substr(0, n));
      ADD_FAILURE() << "prefix of " << n << " bytes was accepted";
    } catch (const EnxDataDictionaryException& e) {
      EXPECT_EQ(e.ErrorCode(), 15498u) << n;
    }
    EXPECT_EQ(d.FieldCount(), 0);
  }
}

TEST(DictionaryStream, ChecksAfterReading) {
  HandDictionary h = ThreeFieldDictionary(2);
  h.fields.clear();
  h.indexes.resize(1);
  ExpectReadFails(HandStream(h), 10003, "DataDictionary requires a minimum of one field");

  h = ThreeFieldDictionary(2);
  h.fields[2].name = "asno";
  ExpectReadFails(HandStream(h), 10009, "Duplicated field name: asno");
  h = ThreeFieldDictionary(2);
  h.indexes[1].name = "SEQUENTIAL access index";
  ExpectReadFails(HandStream(h), 10009, "Duplicated index name: SEQUENTIAL access index");
  h = ThreeFieldDictionary(2);
  h.file_extensions = {"nx1", "NX1"};
  ExpectReadFails(HandStream(h), 10009, "Duplicated file extension: \"NX1\"");
  h = ThreeFieldDictionary(2);
  h.file_extensions = {"nx1", "nxb", "nxc"};
  ExpectReadFails(HandStream(h), 10004, "A BLOB file has already been defined");
  ExpectReadFails(Replaced(HandStream(ThreeFieldDictionary(2)), "Data/DataDict File\x03\x00\x10"s,
                           "Data/DataDict File\x03\xA0\x0F"),
                  10004, "4000 is not a valid BlockSize");

  h = ThreeFieldDictionary(2);
  h.fields[2].default_class = "TnxEmptyDefaultValueDescriptor";
  ExpectReadFails(HandStream(h), 10001,
                  "\"TnxEmptyDefaultValueDescriptor\" is not supported for field type "
                  "\"nxtDateTime\"");
  h = ThreeFieldDictionary(2);
  h.fields[1].default_class = "TnxCurrentDateTimeDefaultValueDescriptor";
  ExpectReadFails(HandStream(h), 10001,
                  "\"TnxCurrentDateTimeDefaultValueDescriptor\" is not supported for field "
                  "type \"nxtInt32\"");

  h = ThreeFieldDictionary(2);
  h.fields[1].type = "nxtAutoInc";
  h.fields.push_back({"Id2", "nxtAutoInc", 10, false, 28, 4, "", ""});
  h.s = h.d = 32;
  ExpectReadFails(HandStream(h), 15501, "Duplicated autoinc field");
  h.fields[1].type = h.fields[3].type = "nxtRecRev";
  ExpectReadFails(HandStream(h), 15506, "Duplicated RecRev field");

  h = ThreeFieldDictionary(2);
  h.indexes[1].file_number = 3;
  ExpectReadFails(HandStream(h), 9999, "Invalid file number: 3");
  h = ThreeFieldDictionary(2);
  h.indexes[1].keys.clear();
  ExpectReadFails(HandStream(h), 10004, "Composite key requires a minimum of one field");
  h = ThreeFieldDictionary(2);
  h.indexes[1].keys[1].field_number = 3;
  ExpectReadFails(HandStream(h), 9999, "Invalid field number: 3");
  h = ThreeFieldDictionary(2);
  h.default_index = 2;
  ExpectReadFails(HandStream(h), 9999, "Invalid default index number: 2");
  h = ThreeFieldDictionary(2);
  h.indexes.clear();
  for (int i = 0; i < 257; ++i)
    h.indexes.push_back({"ix" + std::to_string(i), true, {{0}}, true, 0});
  ExpectReadFails(HandStream(h), 9487, "Too many indexes on table.");

  ExpectReadFails(Replaced(HandStream(ThreeFieldDictionary(2)), "TnxTextKeyFieldDescriptor",
                           "TnxTextKeyFieldDescriptoX"),
                  15499, "KeyFieldDescriptor class is not supported: TnxTextKeyFieldDescriptoX");
  ExpectReadFails(Replaced(HandStream(ThreeFieldDictionary(2)), "nxtInt32", "nxtInt33"), 10000,
                  "Invalid field type.");

  // Layout that would carry field access outside the record image.
  h = ThreeFieldDictionary(2);
  h.fields[2].offset = 24;
  ExpectReadFails(HandStream(h), 10003, "Invalid record structure.");
  h = ThreeFieldDictionary(2);
  h.fields[1].length = 2;
  ExpectReadFails(HandStream(h), 10001, "Invalid field descriptor.");
  h = ThreeFieldDictionary(2);
  h.d = 20;
  ExpectReadFails(HandStream(h), 10003, "Invalid record structure.");
  h = ThreeFieldDictionary(2);
  h.d = 70000;
  ExpectReadFails(HandStream(h), 15495, "Maximum record size has been exceeded");

  // Settled: no index gives -1, a negative default index gives 0.
  h = ThreeFieldDictionary(2);
  h.default_index = -7;
  TnxDataDictionary d;
  d.ReadFromBytes(HandStream(h));
  EXPECT_EQ(d.DefaultIndex(), 0);
  h.indexes.clear();
  d.ReadFromBytes(HandStream(h));
  EXPECT_EQ(d.DefaultIndex(), -1);
  EXPECT_EQ(d.BookmarkSize(d.DefaultIndex()), 24);
}

TEST(DictionaryStream, OneIndexDescriptorOnItsOwn) {
  TnxDataDictionary d;
  d.ReadFromBytes(HandStream(ThreeFieldDictionary(2)));
  Bytes b;
  TaggedWriter w(&b);
  WriteIndexDescriptor(w, d.Index(1));
  // The same bytes as inside the dictionary stream.
  EXPECT_NE(d.ToBytes().find(b), Bytes::npos);
  TaggedReader r(b);
  std::unique_ptr<TnxIndexDescriptor> ix = ReadIndexDescriptor(r);
  EXPECT_TRUE(r.empty());
  EXPECT_EQ(ix->name, "ixAsNoMaara");
  ASSERT_NE(ix->CompKey(), nullptr);
  ASSERT_EQ(ix->CompKey()->key_fields.size(), 2u);
  EXPECT_FALSE(ix->CompKey()->key_fields[0]->IgnoresCase());
  EXPECT_EQ(ix->CompKey()->key_fields[1]->field_number, 1);
  EXPECT_TRUE(ix->allow_duplicates);
  for (size_t n = 0; n < b.size(); ++n) {
    TaggedReader cut(std::string_view(b).substr(0, n));
    EXPECT_THROW(ReadIndexDescriptor(cut), DecodeError) << n;
  }
}

TEST(DictionaryStream, ReadOnlyDictionaryRefusesChanges) {
  TnxDataDictionary d;
  d.ReadFromBytes(HandStream(ThreeFieldDictionary(2)));
  Bytes before = d.ToBytes();
  d.SetReadOnly(true);
  auto expect_15500 = [](const std::function<void()>& change) {
    try {
      change();
      ADD_FAILURE() << "change accepted";
    } catch (const EnxDataDictionaryException& e) {
      EXPECT_EQ(std::string(e.what()), "KantaDB: The data dictionary is read only [$3C8C/15500]");
    }
  };
  expect_15500([&] { d.AddField("X", nxtInt32); });
  expect_15500([&] { d.ReadFromBytes(before); });
  expect_15500([&] { d.Clear(); });
  expect_15500([&] { d.SetDefaultIndex(0); });
  EXPECT_EQ(d.ToBytes(), before);
}

}  // namespace
}  // namespace vantera
