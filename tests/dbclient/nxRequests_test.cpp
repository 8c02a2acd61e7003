#include "protocol/nxRequests.h"

#include <gtest/gtest.h>

#include <set>

#include "protocol/tagged_stream.h"

namespace vantera {
namespace {

Bytes Hex(std::initializer_list<int> bytes) {
  Bytes b;
  for (int v : bytes)
    b.push_back(static_cast<char>(v));
  return b;
}

// Every strict prefix of a valid payload must be refused.
template <typename Decode>
void ExpectPrefixesRefused(const Bytes& payload, Decode decode) {
  for (size_t n = 0; n < payload.size(); ++n)
    EXPECT_THROW(decode(std::string_view(payload).substr(0, n)), DecodeError) << "prefix " << n;
}

TEST(RequestTable, IdsAreUniqueAscendingAndNamed) {
  size_t count = 0;
  const RequestInfo* table = nxRequestTable(&count);
  ASSERT_GT(count, 90u);
  std::set<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) {
      EXPECT_LT(table[i - 1].id, table[i].id);
    }
    EXPECT_TRUE(names.insert(table[i].name).second) << table[i].name;
  }
  EXPECT_EQ(nxRequestName(0x21FF), "DatabaseClose");
  EXPECT_EQ(nxRequestName(0x03FF), "CursorClose");
  EXPECT_EQ(nxFindRequest(0x02FF), nullptr);
  EXPECT_EQ(nxRequestName(0x02FF), "Request$02FF");
  EXPECT_TRUE(nxFindRequest(nxmsg::kRecordInsert)->tagged);
  EXPECT_FALSE(nxFindRequest(nxmsg::kRecordGet)->tagged);
  EXPECT_EQ(nxFindRequest(nxmsg::kBlobRead)->owner, RequestOwner::kCursor);
}

TEST(SessionRequests, FixedRecordsHaveTheirSizesAndShortStrings) {
  DatabaseOpenRequest open{"Name", "Vantera", 0, 0, 10000};
  Bytes b = open.Encode();
  ASSERT_EQ(b.size(), 518u);
  EXPECT_EQ(b.substr(0, 5), Hex({4, 'N', 'a', 'm', 'e'}));
  EXPECT_EQ(b[5], 0);  // padding is zero
  EXPECT_EQ(b.substr(256, 8), Hex({7, 'V', 'a', 'n', 't', 'e', 'r', 'a'}));
  EXPECT_EQ(b.substr(512), Hex({0, 0, 0x10, 0x27, 0, 0}));
  auto back = DatabaseOpenRequest::Decode(b);
  EXPECT_EQ(back.keyword, "Name");
  EXPECT_EQ(back.alias, "Vantera");
  EXPECT_EQ(back.open_mode, 0);
  EXPECT_EQ(back.timeout, 10000);
  ExpectPrefixesRefused(b, [](std::string_view p) { DatabaseOpenRequest::Decode(p); });
  EXPECT_THROW(DatabaseOpenRequest::Decode(b + "x"), DecodeError);

  // A text longer than 255 characters is cut; a length byte is never beyond the field.
  NamesRequest alias{false, 0, {std::string(300, 'a'), "/data"}};
  Bytes a = alias.Encode();
  ASSERT_EQ(a.size(), 512u);
  EXPECT_EQ(static_cast<uint8_t>(a[0]), 255);
  auto names = NamesRequest::Decode(a, false, 2);
  EXPECT_EQ(names.names[0].size(), 255u);
  EXPECT_EQ(names.names[1], "/data");
  EXPECT_EQ((NamesRequest{false, 0, {"x", "y", "z"}}.Encode().size()), 768u);
  EXPECT_EQ(SessionSetTimeoutRequest{5000}.Encode(), Hex({0x88, 0x13, 0, 0}));
  EXPECT_THROW(DecodeEmpty("x"), DecodeError);
}

TEST(DatabaseRequests, ShapesAndTaggedPayloads) {
  TableOpenRequest open{7, "ASSORMI", 2, 1, -1};
  Bytes b = open.Encode();
  ASSERT_EQ(b.size(), 266u);
  EXPECT_EQ(b.substr(0, 4), Hex({7, 0, 0, 0}));
  EXPECT_EQ(b.substr(260), Hex({2, 1, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(TableOpenRequest::Decode(b).table_name, "ASSORMI");
  ExpectPrefixesRefused(b, [](std::string_view p) { TableOpenRequest::Decode(p); });

  EXPECT_EQ((TransactionStartRequest{7, 1, 0}.Encode()), Hex({7, 0, 0, 0, 1, 0}));
  EXPECT_EQ(TableIndexRequest{}.Encode().size(), 520u);

  TransactionStartWithRequest with{3, true, false, {10, 1000}};
  Bytes w = with.Encode();
  EXPECT_EQ(w, Hex({2, 3, 9, 8, 2, 2, 2, 10, 3, 0xE8, 0x03}));
  auto wb = TransactionStartWithRequest::Decode(w);
  EXPECT_EQ(wb.cursor_ids, (std::vector<int32_t>{10, 1000}));
  // A count that the remaining bytes cannot hold is refused before anything is allocated.
  EXPECT_THROW(TransactionStartWithRequest::Decode(Hex({2, 3, 9, 8, 4, 0, 0, 0, 0x40})),
               DecodeError);

  TableOpenReply reply{12, 1, Hex({7, 1, 'K'})};
  Bytes rb = reply.Encode();
  EXPECT_EQ(rb, Hex({2, 12, 2, 1, 7, 1, 'K'}));
  auto rback = TableOpenReply::Decode(rb);
  EXPECT_EQ(rback.cursor_id, 12);
  EXPECT_EQ(rback.dictionary, Hex({7, 1, 'K'}));

  TableRestructureRequest re{1, "T", Hex({9}), {"a=b"}};
  auto reb = TableRestructureRequest::Decode(re.Encode(), [](TaggedReader& r) { r.ReadBool(); });
  EXPECT_EQ(reb.dictionary, Hex({9}));
  EXPECT_EQ(reb.field_map, (std::vector<std::string>{"a=b"}));

  StatementExecDirectRequest sql{1, 500, "select", {{"p", 3, "ab"}, {"q", 1, ""}}, 0};
  auto sqlb = StatementExecDirectRequest::Decode(sql.Encode());
  ASSERT_EQ(sqlb.params.size(), 2u);
  EXPECT_EQ(sqlb.params[0].value, "ab");
  EXPECT_EQ(sqlb.params[1].value, "");

  std::vector<AliasEntry> aliases{{"Vantera", "/srv/v"}};
  EXPECT_EQ(DecodeAliasListReply(EncodeAliasListReply(aliases))[0].path, "/srv/v");
  EXPECT_EQ(DecodeTableListReply(EncodeTableListReply({"ASIAKAS", "KORTTI"})).size(), 2u);
  EXPECT_THROW(DecodeTableListReply(Hex({1, 6, 1, 'A'})), DecodeError);  // no list end
}

TEST(CursorRequests, FixedRecordsByteForByte) {
  EXPECT_EQ((RecordGetRequest{5, 0, 300, 45}.Encode()), Hex({5, 0, 0, 0, 0, 0x2C, 1, 45, 0}));
  EXPECT_EQ((RecordDeleteRequest{5, 0}.Encode()).size(), 6u);
  EXPECT_EQ((ObjectByteRequest{5, 0}.Encode()), Hex({5, 0, 0, 0, 0}));
  EXPECT_EQ((BlobRequest{5, 0x100000002LL}.Encode()), Hex({5, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}));
  BlobReadRequest read{5, 9, 524288, 475712};
  Bytes rb = read.Encode();
  EXPECT_EQ(rb, Hex({5, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0x40, 0x42, 7, 0}));
  EXPECT_EQ(BlobReadRequest::Decode(rb).length, 475712);
  EXPECT_EQ((BlobTruncateRequest{5, 9, 10}.Encode()).size(), 16u);

  BlobWriteRequest write{5, 9, 0, "abc"};
  Bytes wb = write.Encode();
  ASSERT_EQ(wb.size(), 23u);
  EXPECT_EQ(wb.substr(16), Hex({3, 0, 0, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(BlobWriteRequest::Decode(wb).data, "abc");
  // A length beyond the bytes sent, or a negative one, is refused.
  Bytes bad = wb;
  bad[16] = 4;
  EXPECT_THROW(BlobWriteRequest::Decode(bad), DecodeError);
  bad[16] = static_cast<char>(0xFF);
  bad[17] = bad[18] = bad[19] = static_cast<char>(0xFF);
  EXPECT_THROW(BlobWriteRequest::Decode(bad), DecodeError);

  CursorSwitchToIndexRequest sw{5, "KorttiLyh", -1, 1};
  Bytes sb = sw.Encode();
  ASSERT_EQ(sb.size(), 265u);
  EXPECT_EQ(sb.substr(260), Hex({0xFF, 0xFF, 0xFF, 0xFF, 1}));

  RecordGetForKeyRequest key{5, 1, 0, 1, 32, 45, Bytes(32, 'k')};
  Bytes kb = key.Encode();
  ASSERT_EQ(kb.size(), 19u + 32u);
  EXPECT_EQ(kb.substr(0, 19), Hex({5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 32, 0, 45, 0, 0}));
  EXPECT_EQ(RecordGetForKeyRequest::Decode(kb).key, Bytes(32, 'k'));
  EXPECT_EQ((CursorSetToKeyRequest{5, 1, 0, 2, Bytes(8, 'x')}.Encode()).size(), 22u);

  CursorSetRangeRequest range{5, {1, 0, true, Bytes(8, 's')}, {0, 0, true, {}}};
  Bytes rg = range.Encode();
  ASSERT_EQ(rg.size(), 40u);
  EXPECT_EQ(rg.substr(4, 14), Hex({1, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 1, 0}));
  auto rgb = CursorSetRangeRequest::Decode(rg);
  EXPECT_EQ(rgb.start.key, Bytes(8, 's'));
  EXPECT_TRUE(rgb.end.key.empty());
  ExpectPrefixesRefused(rg, [](std::string_view p) { CursorSetRangeRequest::Decode(p); });
  EXPECT_EQ((CursorCompareKeysRequest{5, 1, 0, "ab", "c"}.Encode()).size(), 25u);
}

TEST(CursorRequests, TaggedRecordAndBookmarkPayloads) {
  RecordWriteRequest ins{5, 0, true, "abcd", 45};
  EXPECT_EQ(ins.Encode(nxmsg::kRecordInsert),
            Hex({2, 5, 2, 0, 2, 4, 1, 'a', 'b', 'c', 'd', 0, 2, 45}));
  EXPECT_EQ(ins.Encode(nxmsg::kRecordModify),
            Hex({2, 5, 9, 2, 4, 1, 'a', 'b', 'c', 'd', 0, 2, 45}));
  auto mod = RecordWriteRequest::Decode(nxmsg::kRecordModify, ins.Encode(nxmsg::kRecordModify));
  EXPECT_TRUE(mod.release_lock);
  EXPECT_EQ(mod.record, "abcd");
  // A record length larger than the payload is refused.
  EXPECT_THROW(RecordWriteRequest::Decode(nxmsg::kRecordInsert, Hex({2, 5, 2, 0, 2, 100, 1})),
               DecodeError);

  BookmarksRequest two{5, {"12", "34"}};
  Bytes tb = two.Encode();
  EXPECT_EQ(tb, Hex({2, 5, 2, 2, 1, '1', '2', 0, 1, '3', '4', 0}));
  EXPECT_EQ(BookmarksRequest::Decode(tb, 2).bookmarks[1], "34");
  EXPECT_THROW(BookmarksRequest::Decode(tb, 1), DecodeError);  // bytes left over
}

TEST(Replies, BoundedDecoding) {
  EXPECT_EQ(DecodeInt32Reply(EncodeInt32Reply(-1)), -1);
  EXPECT_THROW(DecodeInt32Reply("abc"), DecodeError);
  EXPECT_THROW(DecodeInt32Reply("abcde"), DecodeError);
  EXPECT_EQ(DecodeInt64Reply(EncodeInt64Reply(1LL << 40)), 1LL << 40);
  EXPECT_EQ(DecodeShortStringReply(EncodeShortStringReply("/srv")), "/srv");

  Bytes blob = EncodeBlobReadReply("hello");
  EXPECT_EQ(blob, Hex({5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(DecodeBlobReadReply(blob), "hello");
  EXPECT_THROW(DecodeBlobReadReply(blob.substr(0, 8)), DecodeError);
  EXPECT_THROW(DecodeBlobReadReply(Hex({0xFF, 0xFF, 0xFF, 0xFF})), DecodeError);

  RecordBatchReply batch{8706, {"ab", ""}};
  auto bb = RecordBatchReply::Decode(batch.Encode());
  EXPECT_EQ(bb.result, 8706);
  EXPECT_EQ(bb.records, (std::vector<Bytes>{"ab", ""}));
  EXPECT_THROW(RecordBatchReply::Decode(Hex({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F})), DecodeError);

  EXPECT_EQ(CursorCloneReply::Decode(CursorCloneReply{9, 2}.Encode()).index_number, 2);
  EXPECT_EQ(DecodeTaskStatusReply(Bytes(26, 'x')).size(), 26u);
  EXPECT_THROW(DecodeTaskStatusReply(Bytes(25, 'x')), DecodeError);
  EXPECT_THROW(StatementExecDirectReply::Decode(Hex({4})), DecodeError);
}

TEST(Replies, BatchOfSubReplies) {
  std::vector<SubReply> subs{{0x0322, 0, "rec"}, {0x0311, 0, "bm"}, {0x0303, 8706, ""}};
  Bytes b = EncodeBatchReply(subs);
  ASSERT_EQ(b.size(), 12u * 3 + 5);
  EXPECT_EQ(b.substr(0, 12), Hex({0x22, 3, 0, 0, 15, 0, 0, 0, 0, 0, 0, 0}));
  auto back = DecodeBatchReply(b);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].data, "rec");
  EXPECT_EQ(back[2].result, 8706u);
  // A size below the header, or beyond the bytes left, is refused.
  Bytes small = b;
  small[4] = 11;
  EXPECT_THROW(DecodeBatchReply(small), DecodeError);
  Bytes big = b;
  big[4] = 100;
  EXPECT_THROW(DecodeBatchReply(big), DecodeError);
  EXPECT_THROW(DecodeBatchReply(b.substr(0, 20)), DecodeError);
}

}  // namespace
}  // namespace vantera
