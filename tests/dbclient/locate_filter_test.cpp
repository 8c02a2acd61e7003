// Locate without a suitable index: the filter expression's bytes, its decoder on hostile
// input, and the cursor's requests (CursorLocate, RecordGet, the retry on 8708).
#include "protocol/locate_filter.h"

#include <gtest/gtest.h>

#include "dbclient/nxdb.h"
#include "protocol/nxllException.h"
#include "protocol/tagged_stream.h"
#include "protocol/workstation_tables.h"
#include "tests/dbclient/fake_table_server.h"

namespace vantera {
namespace {

using testing::FakeTableServer;
using testing::RecordingTransport;

// The expression written out by hand: one field, no options unless given.
Bytes HandExpression(const std::string& field, const Bytes& image, bool ignore_case = false,
                     char partial = 0) {
  Bytes b("\x07\x06Locate", 8);
  b += ignore_case ? '\x09' : '\x08';
  b += '\x02';
  b += partial;
  b += Bytes("\x02\x01", 2);
  b += '\x06';
  b += static_cast<char>(field.size());
  b += field;
  EXPECT_LT(image.size(), 128u);
  b += '\x02';
  b += static_cast<char>(image.size());
  b += '\x01';
  b += image;
  b += '\x00';
  return b;
}

TEST(LocateFilterCodec, BytesAndHostileInput) {
  LocateFilter f;
  f.field_names = {"Maara"};
  f.image = Bytes("\x01\x02\x03", 3);
  Bytes hand = HandExpression("Maara", f.image);
  EXPECT_EQ(f.Encode(), hand);
  LocateFilter back = LocateFilter::Decode(hand);
  EXPECT_EQ(back.field_names, f.field_names);
  EXPECT_EQ(back.image, f.image);
  EXPECT_FALSE(back.case_insensitive);
  EXPECT_EQ(back.partial_length, 0);

  f.case_insensitive = true;
  f.partial_length = 300;
  f.field_names = {"A", "KorttiLyh"};
  back = LocateFilter::Decode(f.Encode());
  EXPECT_TRUE(back.case_insensitive);
  EXPECT_EQ(back.partial_length, 300);
  EXPECT_EQ(back.field_names, f.field_names);

  for (size_t n = 0; n < hand.size(); ++n)
    EXPECT_THROW(LocateFilter::Decode(hand.substr(0, n)), DecodeError) << "cut at " << n;
  EXPECT_THROW(LocateFilter::Decode(hand + '\x00'), DecodeError);
  // An image length larger than the bytes that follow.
  Bytes longer = hand;
  longer[longer.size() - 6] = '\x7F';
  EXPECT_THROW(LocateFilter::Decode(longer), DecodeError);
  // Counts out of bounds, a negative partial length, an empty name, another identifier.
  auto with = [](int64_t partial, int64_t count, const char* name, int64_t length) {
    Bytes b;
    TaggedWriter w(&b);
    w.WriteIdent("Locate");
    w.WriteBool(false);
    w.WriteInt(partial);
    w.WriteInt(count);
    w.WriteString(name);
    w.WriteInt(length);
    w.WriteList("x");
    return b;
  };
  EXPECT_NO_THROW(LocateFilter::Decode(with(0, 1, "A", 1)));
  EXPECT_THROW(LocateFilter::Decode(with(-1, 1, "A", 1)), DecodeError);
  EXPECT_THROW(LocateFilter::Decode(with(0, 0, "A", 1)), DecodeError);
  EXPECT_THROW(LocateFilter::Decode(with(0, 65, "A", 1)), DecodeError);
  EXPECT_THROW(LocateFilter::Decode(with(0, 1, "", 1)), DecodeError);
  EXPECT_THROW(LocateFilter::Decode(with(0, 1, "A", 0)), DecodeError);
  EXPECT_THROW(LocateFilter::Decode(with(0, 1, "A", int64_t{1} << 30)), DecodeError);
  Bytes other = with(0, 1, "A", 1);
  other[2] = 'l';
  EXPECT_THROW(LocateFilter::Decode(other), DecodeError);
}

struct LocateOverRecording : ::testing::Test {
  RecordingTransport transport;
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};
  std::unique_ptr<FakeTableServer> server;
  std::unique_ptr<TnxTable> table;

  void SetUp() override {
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Vantera");
    server = std::make_unique<FakeTableServer>(transport, AssormiDictionary(nxtShortString));
    server->rows.push_back(Row("1", "K1", 10));
    server->rows.push_back(Row("2", "K2", 20));
    table = std::make_unique<TnxTable>("TblAsSormi");
    table->SetDatabase(&database);
    table->SetTableName("ASSORMI");
    table->Open();  // on ixKorttiLyh
    transport.ClearRecord();
  }
  void TearDown() override {
    table.reset();
    session.Close();
    server.reset();
  }
  Bytes Row(const char* as_no, const char* kortti, int32_t maara) const {
    Bytes row = server->NewRow();
    server->SetText(row, "AsNo", as_no);
    server->SetText(row, "KorttiLyh", kortti);
    server->SetInt(row, "Maara", maara);
    return row;
  }
  ObjectBytesRequest LocateAt(size_t i) const {
    EXPECT_EQ(transport.requests.at(i).message_id, nxmsg::kCursorLocate);
    return ObjectBytesRequest::Decode(transport.requests.at(i).payload);
  }
};

TEST_F(LocateOverRecording, FilterRequestsWithTheRetryOn8708) {
  // Maara has no index: CursorLocate with the expression, then RecordGet; a record deleted
  // in between (8708) sends both again.
  transport.Answer(nxmsg::kCursorLocate, 0);
  transport.Answer(nxmsg::kRecordGet, 8708);
  transport.Answer(nxmsg::kCursorLocate, 0);
  transport.Answer(nxmsg::kRecordGet, 0, server->rows[1]);
  EXPECT_TRUE(table->Locate("Maara", {int64_t{20}}));
  EXPECT_EQ(transport.Sequence(),
            "CursorLocate RecordGet CursorLocate RecordGet CursorGetBookmark");
  EXPECT_EQ(table->FieldByName("KorttiLyh").AsString(), "K2");
  Bytes key = server->NewRow();
  server->SetInt(key, "Maara", 20);
  ObjectBytesRequest first = LocateAt(0);
  EXPECT_EQ(first.id, FakeTableServer::kCursorId);
  EXPECT_EQ(first.data, HandExpression("Maara", key));
  EXPECT_EQ(LocateAt(2).Encode(), first.Encode());
  EXPECT_EQ(RecordGetRequest::Decode(transport.requests[1].payload).cursor_id,
            FakeTableServer::kCursorId);

  // Not found: false, nothing read, the table stays on its record.
  transport.ClearRecord();
  transport.Answer(nxmsg::kCursorLocate, 8710);
  EXPECT_FALSE(table->Locate("Maara", {int64_t{99}}));
  EXPECT_EQ(transport.Sequence(), "CursorLocate");
  EXPECT_EQ(table->FieldByName("KorttiLyh").AsString(), "K2");

  // Case-insensitive partial locate on KorttiLyh: its index is case-sensitive, so the
  // filter carries the option and the value's length.
  transport.ClearRecord();
  transport.Answer(nxmsg::kCursorLocate, 0);
  transport.Answer(nxmsg::kRecordGet, 0, server->rows[0]);
  EXPECT_TRUE(table->Locate("KorttiLyh", {std::string("k")}, true, true));
  key = server->NewRow();
  server->SetText(key, "KorttiLyh", "k");
  EXPECT_EQ(LocateAt(0).data, HandExpression("KorttiLyh", key, true, 1));
  EXPECT_EQ(table->FieldByName("Maara").AsInteger(), 10);

  // Other errors are raised as they come.
  transport.ClearRecord();
  transport.Answer(nxmsg::kCursorLocate, 9986);
  try {
    table->Locate("Maara", {int64_t{20}});
    FAIL() << "no error";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 9986u);
  }

  // Deleted on every one of 100 attempts: 8708 is raised after 200 requests.
  transport.ClearRecord();
  for (int i = 0; i < 100; ++i) {
    transport.Answer(nxmsg::kCursorLocate, 0);
    transport.Answer(nxmsg::kRecordGet, 8708);
  }
  try {
    table->Locate("Maara", {int64_t{20}});
    FAIL() << "no error";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 8708u);
  }
  EXPECT_EQ(transport.requests.size(), 200u);
  EXPECT_EQ(table->FieldByName("KorttiLyh").AsString(), "K1");
}

}  // namespace
}  // namespace vantera
