#include "msglink/Wdef.h"

#include <gtest/gtest.h>

#include "msglink/Brkapart.h"

namespace vantera {
namespace {

TEST(Wdef, BuildMsgCutsFieldsAndClosesEveryField) {
  EXPECT_EQ(BuildMsg("", "", "", "", "", ""), "^^^^^^");
  const std::string forty = "0123456789abcdefghijABCDEFGHIJ0123456789";
  EXPECT_EQ(BuildMsg(forty, "b", "c", "d", "e", "f"), forty.substr(0, 35) + "^b^c^d^e^f^");
  // Every one of fields 0 to 4 is cut to 35, field 5 to 255: 436 characters at most.
  const std::string big(1000, 'z');
  std::string line = BuildMsg(big, big, big, big, big, big);
  EXPECT_EQ(line.size(), kMaxLineLength);
  EXPECT_EQ(line.size(), 436u);
  TBrkApart split("^", true);
  split.SetBaseString(line);
  split.Split();
  ASSERT_EQ(split.StringList().size(), 7u);
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(split.StringList()[i].size(), 35u);
  EXPECT_EQ(split.StringList()[5].size(), 255u);
  EXPECT_EQ(split.StringList()[6], "");
  // Bytes above 0x7F pass through unchanged.
  EXPECT_EQ(BuildMsg("\xE4", "-", "-", "-", "0", "\xA4"), "\xE4^-^-^-^0^\xA4^");
}

TEST(Wdef, ReplaceCharTurnsSeparatorsIntoCurrencySign) {
  EXPECT_EQ(ReplaceChar('^', '\xA4', "Rcv: Crd^a^b"),
            "Rcv: Crd\xA4"
            "a\xA4"
            "b");
  EXPECT_EQ(ReplaceChar('^', '\xA4', "no separators"), "no separators");
  EXPECT_EQ(ReplaceChar('^', '\xA4', "^^"), "\xA4\xA4");
  EXPECT_EQ(ReplaceChar('^', '^', "a^b"), "a^b");
}

TEST(Wdef, TheWorkstationsLinesByteForByte) {
  EXPECT_EQ(BuildPingMsg("Vantera01"), "Ping^-^Vantera01^-^0^Ping^");
  EXPECT_EQ(BuildLoginMsg("Vantera01"), "Moi^-^Vantera01^-^0^QXVKM^");
  EXPECT_EQ(BuildNoLogMsg("Station7", "Vantera01"),
            "Log^Station7^Vantera01^-^0^Error: No log found...^");
  EXPECT_EQ(BuildLogLineMsg("Station7", "Vantera01", "Rcv: Crd^a^b"),
            "Log^Station7^Vantera01^-^0^Rcv: Crd\xA4"
            "a\xA4"
            "b^");
  // A log line longer than 255 characters is cut; its separators never reach the wire.
  std::string log_line = std::string(300, '^');
  std::string sent = BuildLogLineMsg("S", "V", log_line);
  EXPECT_EQ(sent, "Log^S^V^-^0^" + std::string(255, '\xA4') + "^");
}

TEST(Wdef, IdentificationReplyAnswersTheCardMessageInNineFields) {
  CardMessageFields card{"Crd", "Kassa3", "Silta", "42", "Teksti", "77", "srv1"};
  std::string reply = BuildIdentificationReplyMsg(card, "Vantera01");
  EXPECT_EQ(reply, "Crd^Kassa3^Vantera01^Silta^42^Teksti^OK^77^srv1^");
  TBrkApart split("^", true);
  split.SetBaseString(reply);
  split.Split();
  ASSERT_EQ(split.StringList().size(), 10u);
  EXPECT_EQ(split.StringList()[kFieldKorttiLyh], kReplyOk);
  EXPECT_EQ(split.StringList()[kFieldEtaNo], "77");
  EXPECT_EQ(split.StringList()[kFieldSiltaSrv], "srv1");

  // The whole text of field 5 is cut to 255 characters, the OK part included.
  card.Sanoma = std::string(250, 's');
  reply = BuildIdentificationReplyMsg(card, "Vantera01");
  EXPECT_EQ(reply, "Crd^Kassa3^Vantera01^Silta^42^" + std::string(250, 's') + "^OK^7^");
}

}  // namespace
}  // namespace vantera
