#include "protocol/tagged_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace vantera {
namespace {

Bytes Written(int64_t v) {
  Bytes b;
  TaggedWriter(&b).WriteInt(v);
  return b;
}

TEST(TaggedStream, IntegersTakeTheSmallestTag) {
  EXPECT_EQ(Written(100), std::string("\x02\x64", 2));
  EXPECT_EQ(Written(1000), std::string("\x03\xE8\x03", 3));
  EXPECT_EQ(Written(100000), std::string("\x04\xA0\x86\x01\x00", 5));
  EXPECT_EQ(Written(-1), std::string("\x02\xFF", 2));
  EXPECT_EQ(Written(4), std::string("\x02\x04", 2));
  EXPECT_EQ(Written(-129), std::string("\x03\x7F\xFF", 3));
  EXPECT_EQ(Written(INT32_MIN), std::string("\x04\x00\x00\x00\x80", 5));
  EXPECT_EQ(Written(int64_t{1} << 32), std::string("\x13\x00\x00\x00\x00\x01\x00\x00\x00", 9));

  for (int64_t v : {int64_t{0}, int64_t{127}, int64_t{-128}, int64_t{32767}, int64_t{-32768},
                    int64_t{INT32_MAX}, int64_t{INT32_MIN}}) {
    Bytes b = Written(v);
    TaggedReader r(b);
    EXPECT_EQ(r.ReadInt32(), v);
    EXPECT_TRUE(r.empty());
  }
  // A 64-bit value outside 32 bits: only the 64-bit read takes tag 19.
  Bytes big = Written(-(int64_t{1} << 40));
  EXPECT_EQ(TaggedReader(big).ReadInt64(), -(int64_t{1} << 40));
  EXPECT_THROW(TaggedReader(big).ReadInt32(), TaggedStreamError);
  EXPECT_EQ(TaggedReader(Written(-5)).ReadInt64(), -5);
}

TEST(TaggedStream, StringsBooleansIdentifiersAndLists) {
  Bytes b;
  TaggedWriter w(&b);
  std::string s255(255, 'a');
  std::string s256(256, 'b');
  w.WriteString(s255);
  EXPECT_EQ(b.size(), 257u);
  EXPECT_EQ(b.substr(0, 2), std::string("\x06\xFF", 2));
  b.clear();
  w.WriteString(s256);
  EXPECT_EQ(b.size(), 261u);
  EXPECT_EQ(b.substr(0, 5), std::string("\x0C\x00\x01\x00\x00", 5));
  EXPECT_EQ(b.substr(5), s256);
  b.clear();
  w.WriteString("");
  EXPECT_EQ(b, std::string("\x06\x00", 2));
  b.clear();
  w.WriteList("12345678");
  EXPECT_EQ(b, std::string("\x01") + "12345678" + std::string("\x00", 1));
  b.clear();
  w.WriteBool(false);
  w.WriteBool(true);
  w.WriteIdent("KantaDB");
  w.WriteString("\xE4\x00x");  // bytes pass unchanged
  EXPECT_EQ(b, std::string("\x08\x09\x07\x07KantaDB\x06\x01\xE4", 14));

  TaggedReader r(b);
  EXPECT_FALSE(r.ReadBool());
  EXPECT_TRUE(r.ReadBool());
  r.ExpectIdent("KantaDB");
  EXPECT_EQ(r.ReadString(), "\xE4");
  EXPECT_TRUE(r.empty());

  Bytes longs;
  TaggedWriter(&longs).WriteString(s256);
  EXPECT_EQ(TaggedReader(longs).ReadString(), s256);
  EXPECT_THROW(TaggedWriter(&longs).WriteIdent(s256), std::invalid_argument);
}

TEST(TaggedStream, WrongTagsAndIdentifiersFail) {
  Bytes b;
  TaggedWriter w(&b);
  w.WriteString("x");
  EXPECT_THROW(TaggedReader(b).ReadInt32(), TaggedStreamError);
  EXPECT_THROW(TaggedReader(b).ReadBool(), TaggedStreamError);
  EXPECT_THROW(TaggedReader(b).ReadIdent(), TaggedStreamError);
  EXPECT_THROW(TaggedReader(b).ReadListBegin(), TaggedStreamError);
  b.clear();
  w.WriteIdent("KantaDb");
  EXPECT_THROW(TaggedReader(b).ExpectIdent("KantaDB"), TaggedStreamError);
  EXPECT_THROW(TaggedReader(Written(1)).ReadString(), TaggedStreamError);
  // Tag 5 and 255 are no values at all.
  EXPECT_THROW(TaggedReader(std::string("\x05\x00", 2)).ReadInt64(), TaggedStreamError);
  EXPECT_THROW(TaggedReader(std::string("\xFF", 1)).ReadString(), TaggedStreamError);
  // A long string whose length claims 4 GiB allocates nothing and fails.
  EXPECT_THROW(TaggedReader(std::string("\x0C\xFF\xFF\xFF\xFF"
                                        "abc",
                                        8))
                   .ReadString(),
               TaggedStreamError);
}

TEST(TaggedStream, EveryTruncatedPrefixFailsCleanly) {
  Bytes b;
  TaggedWriter w(&b);
  w.WriteInt(100000);
  w.WriteInt(int64_t{1} << 40);
  w.WriteString(std::string(300, 'z'));
  w.WriteString("abc");
  w.WriteIdent("Id");
  w.WriteBool(true);
  w.WriteList("raw!");
  auto read_all = [](std::string_view data) {
    TaggedReader r(data);
    EXPECT_EQ(r.ReadInt32(), 100000);
    EXPECT_EQ(r.ReadInt64(), int64_t{1} << 40);
    EXPECT_EQ(r.ReadString().size(), 300u);
    EXPECT_EQ(r.ReadString(), "abc");
    r.ExpectIdent("Id");
    EXPECT_TRUE(r.ReadBool());
    EXPECT_EQ(r.ReadList(4), "raw!");
    return r.empty();
  };
  EXPECT_TRUE(read_all(b));
  for (size_t n = 0; n < b.size(); ++n)
    EXPECT_THROW(read_all(std::string_view(b).substr(0, n)), DecodeError) << n;
}

}  // namespace
}  // namespace vantera
