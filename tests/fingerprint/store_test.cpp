// The customer, card and fingerprint store against the server's database engine.
#include "fingerprint/store.h"

#include <gtest/gtest.h>

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "tests/fingerprint/store_fixture.h"

namespace vantera {
namespace {

using testing::StoreOnEngine;

TEST(CustomerNumber, StoredAndDisplayForms) {
  EXPECT_EQ(StoredAsNo("123"), std::string(12, ' ') + "123");
  EXPECT_EQ(StoredAsNo(""), std::string(15, ' '));
  EXPECT_EQ(StoredAsNo("12345678901234567890"), "123456789012345");
  EXPECT_EQ(StoredAsNo("  7 8"), std::string(10, ' ') + "  7 8");  // inner blanks stay
  EXPECT_EQ(DisplayAsNo("   12 345"), "12345");
  EXPECT_EQ(DisplayAsNo(std::string(15, ' ')), "");
  EXPECT_EQ(DisplayAsNo(std::string(15, ' ') + "99"), "");  // only the first 15 count
  EXPECT_EQ(DisplayAsNo(StoredAsNo("1001")), "1001");
}

TEST_F(StoreOnEngine, CardAndCustomerLookups) {
  AddCustomer("1001", "Virtanen Aino", "00100", "HELSINKI", "Mannerheimintie 1", "PL 5");
  AddCustomer("1002", "M\xE4kinen Eino", "", "TAMPERE", "", "H\xE4meenkatu 2");
  AddCard("6390000010010001", "100101", "1001");
  AddCard("6390000010020001", "100201", "1002");
  AddCard("6390000099990001", "999901", "9999");  // owner missing from ASIAKAS

  uint64_t before = transport.requests;
  EXPECT_FALSE(store.FindCard("", "KorttiNro"));  // the database is not touched
  EXPECT_EQ(transport.requests, before);

  auto card = store.FindCard("6390000010020001", "KorttiNro");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->AsNo, StoredAsNo("1002"));
  EXPECT_EQ(card->KorttiLyh, "100201");
  EXPECT_FALSE(store.TblKortti.Active());
  EXPECT_EQ(store.TblKortti.IndexFieldNames(), "KorttiNro");
  EXPECT_FALSE(store.FindCard("6390000010020002", "KorttiNro"));  // exact key only
  EXPECT_FALSE(store.TblKortti.Active());
  // Any index by field name: the short number.
  auto by_lyh = store.FindCard("100101", "KorttiLyh");
  ASSERT_TRUE(by_lyh);
  EXPECT_EQ(by_lyh->AsNo, StoredAsNo("1001"));

  auto first = store.FindCustomer(StoredAsNo("1001"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, "Virtanen Aino");
  EXPECT_EQ(first->address, "Mannerheimintie 1");
  EXPECT_EQ(first->post, "00100 HELSINKI");
  auto second = store.FindCustomer(StoredAsNo("1002"));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->address, "H\xE4meenkatu 2");  // the second line when the first is empty
  EXPECT_EQ(second->post, "TAMPERE");             // no leading blank
  EXPECT_FALSE(store.FindCustomer(StoredAsNo("9999")));
  EXPECT_FALSE(store.FindCustomer("1001"));  // the display form is not the key
  EXPECT_FALSE(store.TblAsiakas.Active());

  // A lookup on an index the table lacks raises the client's error, and the cursor is
  // closed all the same.
  EXPECT_THROW(store.FindCard("x", "YrNo"), EnxDatabaseError);
  EXPECT_FALSE(store.TblKortti.Active());
}

TEST_F(StoreOnEngine, AppendAddsARecordEveryTimeWithTheWholeTemplate) {
  Bytes templ = testing::Enrolled("1001/etusormi", 7).ExportBytes();
  store.AppendFingerprint("1001", "100101", templ);
  store.AppendFingerprint("1001", "100101", templ);
  store.AppendFingerprint("", "", "x");  // no card shown: AsNo all blanks, KorttiLyh empty
  EXPECT_FALSE(store.TblAsSormi.Active());
  auto rows = Fingerprints();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].as_no, std::string(15, ' '));
  EXPECT_EQ(rows[0].kortti, "");
  EXPECT_EQ(rows[0].jalki, "x");
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(rows[i].as_no, StoredAsNo("1001"));
    EXPECT_EQ(rows[i].kortti, "100101");
    EXPECT_EQ(rows[i].maara, 1);
    EXPECT_DOUBLE_EQ(rows[i].aika, 46000.5);
    EXPECT_EQ(rows[i].jalki, templ);  // byte for byte, no header of our own
  }
}

TEST_F(StoreOnEngine, AFailedTemplateWriteOrPostStoresNothingAndPropagates) {
  Bytes templ = testing::Enrolled("1002/peukalo", 9).ExportBytes();
  // A failed template write is the save's error: the blob stream's write error when the
  // blob cannot be created, the server's error when its bytes cannot be written. No record
  // without its whole template is posted.
  for (uint16_t failing : {nxmsg::kBlobCreate, nxmsg::kBlobWrite}) {
    transport.fail_id = failing;
    bool opened = false;
    if (failing == nxmsg::kBlobCreate)
      EXPECT_THROW(store.AppendFingerprint("1002", "100201", templ, &opened), EStreamError);
    else
      EXPECT_THROW(store.AppendFingerprint("1002", "100201", templ, &opened), EnxDatabaseError);
    EXPECT_TRUE(opened);
    transport.fail_id = 0;
    EXPECT_FALSE(store.TblAsSormi.Active());
    EXPECT_TRUE(Fingerprints().empty()) << failing;
  }
  store.AppendFingerprint("1002", "100201", templ);
  auto rows = Fingerprints();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].as_no, StoredAsNo("1002"));
  EXPECT_EQ(rows[0].jalki, templ);

  // A failed post propagates; the cursor is closed and nothing is stored.
  transport.fail_id = nxmsg::kRecordInsert;
  EXPECT_THROW(store.AppendFingerprint("1003", "100301", templ), EnxDatabaseError);
  transport.fail_id = 0;
  EXPECT_FALSE(store.TblAsSormi.Active());
  EXPECT_EQ(Fingerprints().size(), 1u);

  // A failed open: `opened` stays false.
  transport.fail_id = nxmsg::kTableOpen;
  bool opened = false;
  EXPECT_THROW(store.AppendFingerprint("1003", "100301", templ, &opened), EnxDatabaseError);
  transport.fail_id = 0;
  EXPECT_FALSE(opened);
}

TEST_F(StoreOnEngine, FingerprintsOfACardAndTheCounter) {
  Bytes a(700, 'a'), b(1500, 'b'), c(300, 'c');
  b[3] = '\0';  // bytes copied whole, zero bytes included
  store.AppendFingerprint("1001", "K2", a);
  store.AppendFingerprint("1002", "K1", b);
  store.AppendFingerprint("1001", "K2", c);
  store.AppendFingerprint("1003", "K22", c);

  store.OpenForIdentification();
  {
    CardFingerprints none(store.TblAsSormi, "K3");
    EXPECT_TRUE(none.AtEnd());  // an empty range hands nothing
    none.Cancel();
  }
  std::vector<FingerprintRecord> k2;
  {
    CardFingerprints card(store.TblAsSormi, "K2");
    for (int guard = 0; !card.AtEnd() && guard < 10; card.Next(), ++guard)
      k2.push_back(card.Read());
    card.Cancel();
  }
  ASSERT_EQ(k2.size(), 2u);
  EXPECT_EQ(k2[0].AsNo, StoredAsNo("1001"));
  EXPECT_EQ(k2[0].KorttiLyh, "K2");
  EXPECT_TRUE((k2[0].Jalki == a && k2[1].Jalki == c) || (k2[0].Jalki == c && k2[1].Jalki == a));
  EXPECT_FALSE(store.TblAsSormi.RangeInForce());
  {
    CardFingerprints card(store.TblAsSormi, "K1");
    ASSERT_FALSE(card.AtEnd());
    EXPECT_EQ(card.Read().Jalki, b);
    EXPECT_TRUE(store.TblAsSormi.RangeInForce());
  }  // stopped early: the range is cancelled all the same
  EXPECT_FALSE(store.TblAsSormi.RangeInForce());

  // The counter goes to the customer's first record in AsNo order only.
  store.SetClock([] { return 46001.25; });
  store.CountIdentification(StoredAsNo("1001"));
  EXPECT_EQ(store.TblAsSormi.IndexFieldNames(), "AsNo");  // left on AsNo
  store.CountIdentification(StoredAsNo("4242"));          // none: nothing happens
  store.CloseFingerprints();
  EXPECT_FALSE(store.TblAsSormi.Active());
  auto rows = Fingerprints("AsNo");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].as_no, StoredAsNo("1001"));
  EXPECT_EQ(rows[0].maara, 2);
  EXPECT_DOUBLE_EQ(rows[0].aika, 46001.25);
  EXPECT_EQ(rows[1].as_no, StoredAsNo("1001"));
  EXPECT_EQ(rows[1].maara, 1);
  EXPECT_DOUBLE_EQ(rows[1].aika, 46000.5);
  for (size_t i = 2; i < 4; ++i)
    EXPECT_EQ(rows[i].maara, 1);

  // The next pass opens on KorttiLyh again.
  store.OpenForIdentification();
  EXPECT_EQ(store.TblAsSormi.IndexFieldNames(), "KorttiLyh");
  store.CloseFingerprints();
}

}  // namespace
}  // namespace vantera
