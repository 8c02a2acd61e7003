// A dictionary whose index keys a field without a field mapper (its final flag set) is
// refused when the dictionary is read, before a cursor can use the key: key lookups and
// ranges write key values through the key fields' mappers.
#include <gtest/gtest.h>

#include "dbclient/nxdb.h"
#include "protocol/nxllException.h"
#include "protocol/nxsdDescriptors.h"
#include "protocol/workstation_tables.h"
#include "tests/dbclient/fake_table_server.h"

namespace vantera {
namespace {

using testing::FakeTableServer;
using testing::RecordingTransport;

TnxDataDictionary WithKeyOnAFinalField() {
  TnxDataDictionary d;
  d.AddField("AsNo", nxtShortString, 15, 0, true);
  d.AddField("Piilo", nxtInt32).is_final = true;
  d.AddCompositeIndex("ixAsNo", {"AsNo"}, true);
  d.AddCompositeIndex("ixPiilo", {"Piilo"}, true);
  return d;
}

TEST(KeyFieldMapper, AKeyOnAFieldWithoutMapperIsRefusedWhenRead) {
  Bytes stream = WithKeyOnAFinalField().ToBytes();
  TnxDataDictionary read;
  try {
    read.ReadFromBytes(stream);
    ADD_FAILURE() << "the dictionary was accepted";
  } catch (const EnxBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), 15499u);
    EXPECT_NE(e.BareText().find("Piilo"), std::string::npos) << e.BareText();
  }
  EXPECT_EQ(read.FieldCount(), 0);  // left in its default state
  // A final field outside every key is fine.
  TnxDataDictionary plain;
  plain.AddField("AsNo", nxtShortString, 15, 0, true);
  plain.AddField("Piilo", nxtInt32).is_final = true;
  plain.AddCompositeIndex("ixAsNo", {"AsNo"}, true);
  TnxDataDictionary again;
  again.ReadFromBytes(plain.ToBytes());
  EXPECT_EQ(again.FieldCount(), 2);
}

// The table cursor over a server that sends such a dictionary: opening fails with the
// code, where a key lookup on that index used to end the program.
TEST(KeyFieldMapper, TheCursorFailsToOpenInsteadOfCrashingOnTheKey) {
  RecordingTransport transport;
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};
  engine.SetTransport(&transport);
  session.SetServerEngine(&engine);
  database.SetSession(&session);
  database.SetAliasName("Vantera");
  {
    FakeTableServer server(transport, WithKeyOnAFinalField());
    TnxTable table("TblPiilo");
    table.SetDatabase(&database);
    table.SetTableName("PIILO");
    table.SetIndexName("ixPiilo");
    uint32_t code = 0;
    try {
      table.Open();
      table.FindByKey({int64_t{1}});
    } catch (const EnxBaseException& e) {
      code = e.ErrorCode();
    }
    EXPECT_EQ(code, 15499u);
    EXPECT_FALSE(table.Active());
    session.Close();
  }
}

}  // namespace
}  // namespace vantera
