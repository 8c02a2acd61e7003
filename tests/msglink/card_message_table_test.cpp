// The card-message table's bounds: its size and the age of its messages.
#include <gtest/gtest.h>

#include <string>

#include "msglink/card_message_table.h"

namespace vantera {
namespace {

CardMessage At(const std::string& lyh, std::time_t aika) {
  CardMessage m;
  m.KorttiLyh = lyh;
  m.Tyyppi = "Crd";
  m.Aika = aika;
  return m;
}

TEST(CardMessageTableBounds, AtMostAThousandMessagesTheOldestGoes) {
  CardMessageTable t;
  t.Open();
  // Stored in an order unlike their keys, so that the oldest is not the first key.
  for (int i = 0; i < 1000; ++i)
    t.Store(At("K" + std::to_string(1000 + (i * 7) % 1000), 5000 + i));
  ASSERT_EQ(t.RecordCount(), 1000u);
  ASSERT_NE(t.Find("K1000"), nullptr);  // i = 0: the oldest
  // A new message for a card already waiting replaces it: nobody goes.
  t.Store(At("K1007", 9000));
  EXPECT_EQ(t.RecordCount(), 1000u);
  EXPECT_NE(t.Find("K1000"), nullptr);
  // A new card: the oldest message leaves.
  t.Store(At("NEW", 9001));
  EXPECT_EQ(t.RecordCount(), 1000u);
  EXPECT_EQ(t.Find("K1000"), nullptr);
  EXPECT_NE(t.Find("NEW"), nullptr);
  EXPECT_NE(t.Find("K1007"), nullptr);  // refreshed, so no longer the oldest (i = 1)
  t.Store(At("NEW2", 9002));
  EXPECT_EQ(t.Find("K1014"), nullptr);  // i = 2 was next
  EXPECT_NE(t.Find("K1007"), nullptr);
}

TEST(CardMessageTableBounds, DeleteStoredBeforeRemovesOnlyOlderMessages) {
  CardMessageTable t;
  t.Open();
  t.Store(At("C", 100));
  t.Store(At("A", 99));
  t.Store(At("B", 200));
  t.Store(At("D", 50));
  EXPECT_EQ(t.DeleteStoredBefore(100), (std::vector<std::string>{"A", "D"}));
  EXPECT_EQ(t.Keys(), (std::vector<std::string>{"B", "C"}));
  EXPECT_TRUE(t.DeleteStoredBefore(100).empty());
  t.Close();
  EXPECT_THROW(t.DeleteStoredBefore(0), ETableClosed);
}

}  // namespace
}  // namespace vantera
