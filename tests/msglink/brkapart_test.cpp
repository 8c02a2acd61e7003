#include "msglink/Brkapart.h"

#include <gtest/gtest.h>

namespace vantera {
namespace {

using List = std::vector<std::string>;

List SplitOf(std::string_view text, std::string_view sep, bool allow_empty) {
  TBrkApart b(sep, allow_empty);
  b.SetBaseString(text);
  b.Split();
  return b.StringList();
}

TEST(Brkapart, PiecesWithEmptyPiecesKept) {
  EXPECT_EQ(SplitOf("a^b^", "^", true), (List{"a", "b", ""}));
  EXPECT_EQ(SplitOf("", "^", true), (List{""}));
  EXPECT_EQ(SplitOf("^", "^", true), (List{"", ""}));
  EXPECT_EQ(SplitOf("a^^b", "^", true), (List{"a", "", "b"}));
  EXPECT_EQ(SplitOf("Ping^-^Vantera01^-^0^Ping^", "^", true),
            (List{"Ping", "-", "Vantera01", "-", "0", "Ping", ""}));
  EXPECT_EQ(SplitOf("^^^^^^", "^", true), List(7, ""));
}

TEST(Brkapart, PiecesWithEmptyPiecesLeftOut) {
  EXPECT_EQ(SplitOf("a^b^", "^", false), (List{"a", "b"}));
  EXPECT_EQ(SplitOf("", "^", false), List{});
  EXPECT_EQ(SplitOf("^", "^", false), List{});
  EXPECT_EQ(SplitOf("^a^^b^", "^", false), (List{"a", "b"}));
}

TEST(Brkapart, LongAndEmptySeparators) {
  EXPECT_EQ(SplitOf("a<>b<><>c", "<>", true), (List{"a", "b", "", "c"}));
  // Occurrences are found left to right and do not overlap.
  EXPECT_EQ(SplitOf("aaaa", "aa", true), (List{"", "", ""}));
  EXPECT_EQ(SplitOf("xaaay", "aa", true), (List{"x", "ay"}));
  // A separator longer than the text, or empty, is never found.
  EXPECT_EQ(SplitOf("ab", "abc", true), (List{"ab"}));
  EXPECT_EQ(SplitOf("a^b", "", true), (List{"a^b"}));
  EXPECT_EQ(SplitOf("", "", false), List{});
  // Bytes above 0x7F and zero bytes are ordinary characters.
  EXPECT_EQ(SplitOf(std::string("\xA4\0^\xFF", 4), "^", true),
            (List{std::string("\xA4\0", 2), "\xFF"}));
}

TEST(Brkapart, PropertiesAndResplitting) {
  TBrkApart b;
  EXPECT_EQ(b.BreakString(), "");
  EXPECT_FALSE(b.AllowEmptyString());
  b.SetBreakString("^");
  b.SetAllowEmptyString(true);
  b.SetStringList({"old"});
  EXPECT_EQ(b.StringList(), List{"old"});
  b.SetBaseString("x^y");
  EXPECT_EQ(b.BaseString(), "x^y");
  b.Split();
  EXPECT_EQ(b.StringList(), (List{"x", "y"}));
  // A second split replaces the earlier pieces instead of adding to them.
  b.SetBaseString("z");
  b.Split();
  EXPECT_EQ(b.StringList(), List{"z"});
}

}  // namespace
}  // namespace vantera
