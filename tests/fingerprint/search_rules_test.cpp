// The search dialog's rules without widgets: search key, order choices, sizes, key ranges
// and returned values.
#include "fingerprint/search_rules.h"

#include <gtest/gtest.h>

namespace vantera {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(SearchKey, UpperCasesAsciiLettersAndThreeFinnishLettersOnly) {
  EXPECT_EQ(SearchKey("ma"), "MA");
  EXPECT_EQ(SearchKey("az AZ 09;"), "AZ AZ 09;");
  EXPECT_EQ(SearchKey("\xE4\xE5\xF6"), "\xC4\xC5\xD6");
  // Other accented letters stay as typed, the upper-case ones too.
  EXPECT_EQ(SearchKey("\xE9\xFC\xF8\xE6\xC4\xFF"), "\xE9\xFC\xF8\xE6\xC4\xFF");
  EXPECT_EQ(SearchKey("m\xE4kinen"), "M\xC4KINEN");
  EXPECT_EQ(SearchKey(""), "");
  std::string with_zero("a\0b", 3);
  EXPECT_EQ(SearchKey(with_zero), std::string("A\0B", 3));
}

TEST(SearchRules, OrderChoicesAndSelection) {
  OrderChoices none = OrderItems({});
  EXPECT_EQ(none.items, (TextLines{"N&umero", "&Nimi"}));
  EXPECT_TRUE(none.visible);
  OrderChoices one = OrderItems({"Vain"});
  EXPECT_EQ(one.items, (TextLines{"Vain"}));
  EXPECT_FALSE(one.visible);
  OrderChoices three = OrderItems({"A", "B", "C"});
  EXPECT_EQ(three.items.size(), 3u);
  EXPECT_TRUE(three.visible);

  EXPECT_EQ(SelectedOrder(1, 2), 1);
  EXPECT_EQ(SelectedOrder(0, 2), 0);
  EXPECT_EQ(SelectedOrder(2, 2), -1);
  EXPECT_EQ(SelectedOrder(-1, 2), -1);
  EXPECT_EQ(SelectedOrder(0, 0), -1);
}

TEST(SearchRules, HeaderLinesNeedTwoParts) {
  auto column = HeaderColumn("AsNo;Asiakas");
  ASSERT_TRUE(column);
  EXPECT_EQ(column->first, "AsNo");
  EXPECT_EQ(column->second, "Asiakas");
  // Empty parts are dropped before counting.
  column = HeaderColumn(";;AsNimi;;Nimi;extra");
  ASSERT_TRUE(column);
  EXPECT_EQ(column->first, "AsNimi");
  EXPECT_EQ(column->second, "Nimi");
  EXPECT_FALSE(HeaderColumn("AsNo"));
  EXPECT_FALSE(HeaderColumn("AsNo;"));
  EXPECT_FALSE(HeaderColumn(";Asiakas"));
  EXPECT_FALSE(HeaderColumn(""));
}

TEST(SearchRules, Sizes) {
  // The main window's card search: 322 + 110 fits 482 and stays.
  SearchDialogSizes s = DialogSizes(370, 482, 322, 110, 2);
  EXPECT_EQ(s.form_height, 370);
  EXPECT_EQ(s.form_width, 482);
  EXPECT_EQ(s.rg_left, 322);
  EXPECT_EQ(s.rg_width, 110);
  EXPECT_FALSE(s.panel_height);
  EXPECT_FALSE(s.rg_height);
  // Defaults: 290 + 110 exceeds 342, so the group moves to 342 - 110 - 6.
  EXPECT_EQ(DialogSizes(370, 342, 290, 110, 2).rg_left, 226);
  // Exactly at the edge stays.
  EXPECT_EQ(DialogSizes(370, 400, 290, 110, 2).rg_left, 290);
  // Too narrow for the group at all: left edge 100.
  EXPECT_EQ(DialogSizes(370, 100, 50, 110, 2).rg_left, 100);
  // Huge values do not wrap around.
  EXPECT_EQ(DialogSizes(370, 342, 2147483647, 2147483647, 2).rg_left, 100);
  // Four and six order indexes grow the panel by 25 per index beyond three.
  s = DialogSizes(370, 482, 322, 110, 3);
  EXPECT_FALSE(s.panel_height);
  s = DialogSizes(370, 482, 322, 110, 4);
  EXPECT_EQ(s.panel_height, 105);
  EXPECT_EQ(s.rg_height, 100);
  s = DialogSizes(370, 482, 322, 110, 6);
  EXPECT_EQ(s.panel_height, 155);
  EXPECT_EQ(s.rg_height, 150);
}

TEST(SearchRules, KeyRangeOnTheIndexFirstField) {
  KeyRangePlan plan = PlanKeyRange({}, {}, "AsNimi", "MA");
  EXPECT_FALSE(plan.by_fields);
  EXPECT_EQ(plan.low_value, std::string("MA\0", 3));
  EXPECT_EQ(plan.high_value, "MA\xFF");
  plan = PlanKeyRange({}, {}, "AsNimi", "");
  EXPECT_EQ(plan.low_value, std::string("\0", 1));
  EXPECT_EQ(plan.high_value, "\xFF");
  // Lists of different lengths are not used.
  plan = PlanKeyRange({"YrNo"}, {}, "YrNo;AsNimi", "K");
  EXPECT_FALSE(plan.by_fields);
  EXPECT_EQ(plan.low_value, std::string("K\0", 2));
}

TEST(SearchRules, KeyRangeWithFixedFields) {
  // The fixed field leads the index; the next part is the range field.
  KeyRangePlan plan = PlanKeyRange({"YrNo"}, {"77"}, "YrNo;AsNimi", "VI");
  ASSERT_TRUE(plan.by_fields);
  EXPECT_EQ(plan.low, (Pairs{{"YrNo", "77"}, {"AsNimi", std::string("VI\0", 3)}}));
  EXPECT_EQ(plan.high, (Pairs{{"YrNo", "77"}, {"AsNimi", "VI\xFF"}}));

  // A fixed field not named in the order's line is left out and not counted.
  plan = PlanKeyRange({"Maa", "YrNo"}, {"FI", "5"}, "YrNo;AsNo", "");
  EXPECT_EQ(plan.low, (Pairs{{"YrNo", "5"}, {"AsNo", std::string("\0", 1)}}));
  EXPECT_EQ(plan.high, (Pairs{{"YrNo", "5"}, {"AsNo", "\xFF"}}));

  // Found anywhere inside the line, also inside another name.
  plan = PlanKeyRange({"No"}, {"1"}, "AsNo;AsNimi", "X");
  EXPECT_EQ(plan.low, (Pairs{{"No", "1"}, {"AsNimi", std::string("X\0", 2)}}));

  // Every part fixed: no range field.
  plan = PlanKeyRange({"YrNo"}, {"77"}, "YrNo", "VI");
  EXPECT_EQ(plan.low, (Pairs{{"YrNo", "77"}}));
  EXPECT_EQ(plan.high, (Pairs{{"YrNo", "77"}}));

  // No line for the order: nothing is fixed and there is no range field.
  plan = PlanKeyRange({"YrNo"}, {"77"}, "", "VI");
  EXPECT_TRUE(plan.by_fields);
  EXPECT_TRUE(plan.low.empty());
  EXPECT_TRUE(plan.high.empty());
}

TEST(SearchRules, ReturnedValuesTakeTheFirstExactName) {
  Pairs fields{{"KorttiNro", "639"}, {"KorttiLyh", "100101"}, {"KorttiNro", "second"}};
  EXPECT_EQ(ReturnedValues({"KorttiLyh", "korttinro", "KorttiNro", "Puuttuu"}, fields),
            (TextLines{"100101", "", "639", ""}));
  EXPECT_TRUE(ReturnedValues({}, fields).empty());
  EXPECT_EQ(ReturnedValues({"A"}, {}), (TextLines{""}));
}

}  // namespace
}  // namespace vantera
