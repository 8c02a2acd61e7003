// Request-level tests of the server engine: every request is encoded with the codecs the
// client uses and dispatched in process, on the workstation's tables in a fresh folder or
// PostgreSQL schema.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

class EngineRequests : public ::testing::TestWithParam<std::tuple<StorageKind, TnxFieldType>> {
 protected:
  EngineRequests()
      : storage_(std::get<0>(GetParam())),
        engine_(storage_.Options(std::get<1>(GetParam()))),
        a_(engine_, 1) {
    if (!storage_.available())
      return;
    storage_.Prepare(std::get<1>(GetParam()));
    db_ = a_.OpenDatabase();
  }
  void SetUp() override { VANTERA_SKIP_UNAVAILABLE(storage_); }
  TnxFieldType StringType() const { return std::get<1>(GetParam()); }

  Bytes Customer(const OpenCursor& c, const std::string& no, const std::string& name) {
    Bytes rec = c.dict->NewRecord();
    SetText(*c.dict, &rec, "AsNo", no);
    SetText(*c.dict, &rec, "AsNimi", name);
    return rec;
  }

  Bytes Fingerprint(const OpenCursor& c, const std::string& as_no, const std::string& card,
                    int64_t blob = 0) {
    Bytes rec = c.dict->NewRecord();
    SetText(*c.dict, &rec, "AsNo", as_no);
    SetText(*c.dict, &rec, "KorttiLyh", card);
    SetInt32(*c.dict, &rec, "Maara", 1);
    if (blob != 0)
      SetInt64(*c.dict, &rec, "Jalki", blob);
    return rec;
  }

  // Walks from the cursor's position forward and collects one field of each record.
  std::vector<std::string> Walk(TestClient& t, const OpenCursor& c, const std::string& field) {
    std::vector<std::string> out;
    for (int i = 0; i < 1000; ++i) {
      EngineReply r = t.Get(nxmsg::kRecordGetNext, c);
      if (r.code == 8706)
        break;
      EXPECT_EQ(r.code, 0u);
      if (r.code != 0)
        break;
      out.push_back(GetText(*c.dict, r.data, field));
    }
    return out;
  }

  RangeEnd End(const OpenCursor& c, const std::string& field, const std::string& text,
               bool inclusive, int32_t fields = 1, int32_t partial = 0) {
    RangeEnd e;
    e.field_count = fields;
    e.partial_length = partial;
    e.inclusive = inclusive;
    e.key = c.dict->NewRecord();
    SetText(*c.dict, &e.key, field, text);
    return e;
  }

  TestStorage storage_;
  ServerEngine engine_;
  TestClient a_;
  int32_t db_ = 0;
};

TEST_P(EngineRequests, NewFolderHasTheWorkstationTablesWithTheirIndexes) {
  EXPECT_NE(db_, 0);
  ObjectRequest list{db_};
  EngineReply r = a_.Call(nxmsg::kTableList, list.Encode());
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(DecodeTableListReply(r.data),
            (std::vector<std::string>{"ASIAKAS", "ASSORMI", "KORTTI"}));
  OpenCursor c = a_.OpenTable(db_, "assormi");  // names without regard to case
  ASSERT_EQ(a_.last_code, 0u);
  EXPECT_EQ(c.dict->Field(c.dict->FieldNumber("AsNo")).type, StringType());
  EXPECT_EQ(c.index, 1);
  EXPECT_EQ(c.dict->IndexNumber("ixAsNo"), 2);
  NamesRequest dict_req;
  dict_req.id = db_;
  dict_req.names = {"KORTTI"};
  r = a_.Call(nxmsg::kTableGetDictionary, dict_req.Encode());
  ASSERT_EQ(r.code, 0u);
  TnxDataDictionary kortti;
  kortti.ReadFromBytes(r.data);
  EXPECT_TRUE(kortti.Field(kortti.FieldNumber("KorttiNro")).required);
  EXPECT_FALSE(kortti.Field(kortti.FieldNumber("YrNo")).required);
  dict_req.names = {"EIOLE"};
  EXPECT_EQ(a_.Call(nxmsg::kTableExists, dict_req.Encode()).data, Bytes(1, '\0'));
  EXPECT_EQ(a_.Call(nxmsg::kTableGetDictionary, dict_req.Encode()).code, 10024u);
  a_.OpenTable(db_, "EIOLE");
  EXPECT_EQ(a_.last_code, 10024u);
}

TEST_P(EngineRequests, OrderOnEachIndexWithDuplicatesAndCaseInsensitiveNames) {
  OpenCursor c = a_.OpenTable(db_, "ASIAKAS");
  // Names in Windows-1252: \xE4 = a with diaeresis, \xD6 = capital O with diaeresis.
  ASSERT_EQ(a_.Insert(c, Customer(c, "            300", "\xD6hman Olli")), 0u);
  ASSERT_EQ(a_.Insert(c, Customer(c, "            100", "virtanen Ville")), 0u);
  ASSERT_EQ(a_.Insert(c, Customer(c, "            200", "\xE4ij\xE4l\xE4 Aino")), 0u);
  ASSERT_EQ(a_.Insert(c, Customer(c, "            400", "Virtanen Aapo")), 0u);
  ASSERT_EQ(a_.Insert(c, Customer(c, "            500", "VIRTANEN VILLE")), 0u);

  ASSERT_EQ(a_.SwitchIndex(c, "ixAsNo"), 0u);
  EXPECT_EQ(Walk(a_, c, "AsNo"),
            (std::vector<std::string>{"            100", "            200", "            300",
                                      "            400", "            500"}));
  ASSERT_EQ(a_.SwitchIndex(c, "ixAsNimi"), 0u);
  // Ignore case: the two "virtanen ville" are equal and keep insertion order; upper-cased
  // Windows-1252 puts \xC4 (A diaeresis) before \xD6 (O diaeresis), both after Z.
  EXPECT_EQ(Walk(a_, c, "AsNo"),
            (std::vector<std::string>{"            400", "            100", "            500",
                                      "            200", "            300"}));
  // Backwards from the end gives the reverse order.
  ASSERT_EQ(a_.Simple(nxmsg::kCursorSetToEnd, c.id), 0u);
  EngineReply r = a_.Get(nxmsg::kRecordGetPrior, c);
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(GetText(*c.dict, r.data, "AsNo"), "            300");
  ASSERT_EQ(a_.Simple(nxmsg::kCursorSetToBegin, c.id), 0u);
  EXPECT_EQ(a_.Get(nxmsg::kRecordGetPrior, c).code, 8705u);
  EXPECT_EQ(a_.Count(c), 5);
  // The unique customer number refuses a duplicate, and nothing of it is stored.
  EXPECT_EQ(a_.Insert(c, Customer(c, "            100", "Toinen")), 9729u);
  EXPECT_EQ(a_.Count(c), 5);
  // A required field left null is refused even without the client's own check.
  Bytes no_name = c.dict->NewRecord();
  SetText(*c.dict, &no_name, "AsNo", "            900");
  EXPECT_EQ(a_.Insert(c, no_name), 9732u);
}

TEST_P(EngineRequests, PrefixRangeAndInclusiveExclusiveEnds) {
  OpenCursor c = a_.OpenTable(db_, "ASIAKAS");
  const char* names[] = {"Mattila", "matti", "Matsson", "Mattinen", "Maunu", "M\xE4kinen"};
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(a_.Insert(c, Customer(c, "  " + std::to_string(100 + i), names[i])), 0u);
  ASSERT_EQ(a_.SwitchIndex(c, "ixAsNimi"), 0u);
  // "matt" + character 0 to "matt" + character 255 selects the names that start with it.
  ASSERT_EQ(a_.SetRange(c, End(c, "AsNimi", std::string("matt") + '\0', true),
                        End(c, "AsNimi", "matt\xFF", true)),
            0u);
  EXPECT_EQ(Walk(a_, c, "AsNimi"), (std::vector<std::string>{"matti", "Mattila", "Mattinen"}));
  EXPECT_EQ(a_.Count(c), 3);
  // Inclusive and exclusive ends on whole values.
  ASSERT_EQ(a_.SetRange(c, End(c, "AsNimi", "MATTI", false), End(c, "AsNimi", "maunu", true)), 0u);
  EXPECT_EQ(Walk(a_, c, "AsNimi"), (std::vector<std::string>{"Mattila", "Mattinen", "Maunu"}));
  ASSERT_EQ(a_.SetRange(c, End(c, "AsNimi", "matti", true), End(c, "AsNimi", "Maunu", false)), 0u);
  EXPECT_EQ(Walk(a_, c, "AsNimi"), (std::vector<std::string>{"matti", "Mattila", "Mattinen"}));
  // A partial end: the first three characters.
  ASSERT_EQ(a_.SetRange(c, End(c, "AsNimi", "mau", true, 1, 3), RangeEnd{}), 0u);
  EXPECT_EQ(Walk(a_, c, "AsNimi"), (std::vector<std::string>{"Maunu", "M\xE4kinen"}));
  // An open start and an exclusive end.
  ASSERT_EQ(a_.SetRange(c, RangeEnd{}, End(c, "AsNimi", "Matti", false)), 0u);
  EXPECT_EQ(Walk(a_, c, "AsNimi"), (std::vector<std::string>{"Matsson"}));
  // A range with nothing in it, then the whole table again.
  ASSERT_EQ(a_.SetRange(c, End(c, "AsNimi", "x", true), End(c, "AsNimi", "x", true)), 0u);
  EXPECT_EQ(a_.Get(nxmsg::kRecordGetNext, c).code, 8706u);
  EXPECT_EQ(a_.Count(c), 0);
  ASSERT_EQ(a_.Simple(nxmsg::kCursorResetRange, c.id), 0u);
  EXPECT_EQ(a_.Count(c), 6);
}

TEST_P(EngineRequests, RecordGetForKeyWithWholeAndPartialKeys) {
  OpenCursor k = a_.OpenTable(db_, "KORTTI");
  auto card = [&](const std::string& nro, const std::string& lyh, const std::string& as_no) {
    Bytes rec = k.dict->NewRecord();
    SetText(*k.dict, &rec, "KorttiNro", nro);
    SetText(*k.dict, &rec, "KorttiLyh", lyh);
    SetText(*k.dict, &rec, "AsNo", as_no);
    return rec;
  };
  ASSERT_EQ(a_.Insert(k, card("1000200030004000", "K4000", "             12")), 0u);
  ASSERT_EQ(a_.Insert(k, card("1000200030005000", "K5000", "             12")), 0u);
  ASSERT_EQ(a_.Insert(k, card("2000200030001000", "K1000", "             13")), 0u);
  ASSERT_EQ(a_.SwitchIndex(k, "ixKorttiNro"), 0u);
  Bytes key = k.dict->NewRecord();
  SetText(*k.dict, &key, "KorttiNro", "1000200030005000");
  EngineReply r = a_.GetForKey(k, key, 1, 0);
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(GetText(*k.dict, r.data, "KorttiLyh"), "K5000");
  // The cursor stands on the found record.
  r = a_.Get(nxmsg::kRecordGetNext, k);
  EXPECT_EQ(GetText(*k.dict, r.data, "KorttiLyh"), "K1000");
  // Partial: the first 4 characters find the first of two matches, then the next one.
  SetText(*k.dict, &key, "KorttiNro", "1000");
  r = a_.GetForKey(k, key, 1, 4);
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(GetText(*k.dict, r.data, "KorttiLyh"), "K4000");
  r = a_.GetForKey(k, key, 1, 4, false);
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(GetText(*k.dict, r.data, "KorttiLyh"), "K5000");
  EXPECT_EQ(a_.GetForKey(k, key, 1, 4, false).code, 8710u);
  // No match: 8710, and the cursor stays where it was.
  SetText(*k.dict, &key, "KorttiNro", "9999");
  EXPECT_EQ(a_.GetForKey(k, key, 1, 0).code, 8710u);
  r = a_.Get(nxmsg::kRecordGet, k);
  EXPECT_EQ(GetText(*k.dict, r.data, "KorttiLyh"), "K5000");
  // On the customer index with duplicates, the first in index order.
  ASSERT_EQ(a_.SwitchIndex(k, "ixAsNo"), 0u);
  Bytes as_key = k.dict->NewRecord();
  SetText(*k.dict, &as_key, "AsNo", "             12");
  r = a_.GetForKey(k, as_key, 1, 0);
  EXPECT_EQ(GetText(*k.dict, r.data, "KorttiLyh"), "K4000");
  // A key image of the wrong length is refused before it is read.
  EXPECT_EQ(a_.GetForKey(k, as_key.substr(1), 1, 0).code, 9986u);
}

TEST_P(EngineRequests, BookmarksSurviveInsertsAndDeletes) {
  OpenCursor s = a_.OpenTable(db_, "ASSORMI");
  for (const char* card : {"B", "D", "F"})
    ASSERT_EQ(a_.Insert(s, Fingerprint(s, "1", card)), 0u);
  ASSERT_EQ(a_.Simple(nxmsg::kCursorSetToBegin, s.id), 0u);
  ASSERT_EQ(a_.Get(nxmsg::kRecordGetNext, s).code, 0u);  // B
  ASSERT_EQ(a_.Get(nxmsg::kRecordGetNext, s).code, 0u);  // D
  Bytes bm_d = a_.Bookmark(s);
  ASSERT_EQ(bm_d.size(), static_cast<size_t>(s.dict->BookmarkSize(s.index)));
  ASSERT_EQ(a_.Get(nxmsg::kRecordGetNext, s).code, 0u);  // F
  Bytes bm_f = a_.Bookmark(s);
  // Inserts before and between do not disturb the bookmarks.
  ASSERT_EQ(a_.Insert(s, Fingerprint(s, "1", "A")), 0u);
  ASSERT_EQ(a_.Insert(s, Fingerprint(s, "1", "E")), 0u);
  BookmarksRequest go{s.id, {bm_d}};
  ASSERT_EQ(a_.Call(nxmsg::kCursorSetToBookmark, go.Encode()).code, 0u);
  EngineReply r = a_.Get(nxmsg::kRecordGetNext, s);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "E");
  BookmarksRequest cmp{s.id, {bm_d, bm_f}};
  r = a_.Call(nxmsg::kCursorCompareBookmarks, cmp.Encode());
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(static_cast<int8_t>(DecodeByteReply(r.data)), -1);
  cmp.bookmarks = {bm_f, bm_f};
  EXPECT_EQ(DecodeByteReply(a_.Call(nxmsg::kCursorCompareBookmarks, cmp.Encode()).data), 0);
  // Delete D through the bookmark; its bookmark then answers 8708, and the cursor that
  // stood on it still finds its neighbours.
  ASSERT_EQ(a_.Call(nxmsg::kCursorSetToBookmark, go.Encode()).code, 0u);
  RecordDeleteRequest del{s.id, static_cast<uint16_t>(s.RecLen())};
  r = a_.Call(nxmsg::kRecordDelete, del.Encode());
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "D");
  EXPECT_EQ(a_.Get(nxmsg::kRecordGet, s).code, 8708u);
  r = a_.Get(nxmsg::kRecordGetNext, s);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "E");
  r = a_.Get(nxmsg::kRecordGetPrior, s);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "B");
  EXPECT_EQ(a_.Call(nxmsg::kCursorSetToBookmark, go.Encode()).code, 8708u);
  // A bookmark of another table is refused.
  OpenCursor other = a_.OpenTable(db_, "ASIAKAS");
  BookmarksRequest foreign{other.id, {bm_f}};
  EXPECT_EQ(a_.Call(nxmsg::kCursorSetToBookmark, foreign.Encode()).code, 10021u);
  // Switching the index keeps the position on the record.
  ASSERT_EQ(a_.Call(nxmsg::kCursorSetToBookmark, BookmarksRequest{s.id, {bm_f}}.Encode()).code, 0u);
  ASSERT_EQ(a_.SwitchIndex(s, "ixAsNo", true), 0u);
  r = a_.Get(nxmsg::kRecordGet, s);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "F");
  ASSERT_EQ(a_.Simple(nxmsg::kCursorSetToEnd, s.id), 0u);
  EXPECT_EQ(a_.SwitchIndex(s, "ixKorttiLyh", true), 8706u);
  EXPECT_EQ(a_.SwitchIndex(s, "eiole"), 9997u);
}

TEST_P(EngineRequests, LocksBetweenTwoSessions) {
  TestClient b(engine_, 2);
  int32_t db_b = b.OpenDatabase("TARVOLA");
  ASSERT_NE(db_b, 0);
  OpenCursor sa = a_.OpenTable(db_, "ASSORMI");
  OpenCursor sb = b.OpenTable(db_b, "ASSORMI");
  ASSERT_EQ(a_.Insert(sa, Fingerprint(sa, "7", "K7")), 0u);
  ASSERT_EQ(b.Get(nxmsg::kRecordGetNext, sb).code, 0u);
  // Session A edits (lock mode 2); B can neither lock nor change nor delete the record.
  EngineReply edit = a_.Get(nxmsg::kRecordGet, sa, 2);
  ASSERT_EQ(edit.code, 0u);
  EXPECT_EQ(b.Get(nxmsg::kRecordGet, sb, 2).code, 10241u);
  EXPECT_EQ(b.Modify(sb, Fingerprint(sb, "7", "K8")), 10241u);
  EXPECT_EQ(b.Call(nxmsg::kRecordDelete, RecordDeleteRequest{sb.id, 0}.Encode()).code, 10241u);
  ObjectByteRequest is_locked{sb.id, 2};
  EXPECT_EQ(b.Call(nxmsg::kRecordIsLocked, is_locked.Encode()).data, Bytes(1, '\x01'));
  // Reading without a lock is allowed.
  EXPECT_EQ(b.Get(nxmsg::kRecordGet, sb).code, 0u);
  // A's modify releases the lock; then B may edit.
  Bytes changed = edit.data;
  SetInt32(*sa.dict, &changed, "Maara", 2);
  ASSERT_EQ(a_.Modify(sa, changed), 0u);
  EngineReply b_edit = b.Get(nxmsg::kRecordGet, sb, 2);
  ASSERT_EQ(b_edit.code, 0u);
  EXPECT_EQ(
      DecodeFixed32(b_edit.data.data() + sa.dict->Field(sa.dict->FieldNumber("Maara")).offset), 2u);
  EXPECT_EQ(a_.Get(nxmsg::kRecordGet, sa, 2).code, 10241u);
  // RecordRelLock frees it again; so does closing the cursor.
  ASSERT_EQ(b.Call(nxmsg::kRecordRelLock, ObjectByteRequest{sb.id, 0}.Encode()).code, 0u);
  ASSERT_EQ(a_.Get(nxmsg::kRecordGet, sa, 2).code, 0u);
  ASSERT_EQ(a_.Simple(nxmsg::kCursorClose, sa.id), 0u);
  EXPECT_EQ(b.Get(nxmsg::kRecordGet, sb, 2).code, 0u);
  // Handles of one session are not valid in another.
  EXPECT_EQ(b.Simple(nxmsg::kCursorSetToBegin, sa.id), 9990u);
  EXPECT_EQ(b.Simple(nxmsg::kTransactionCommit, db_), 9990u);
}

TEST_P(EngineRequests, BlobsOfEverySizeAndTheirEnds) {
  OpenCursor s = a_.OpenTable(db_, "ASSORMI");
  for (size_t size : {size_t{0}, size_t{1}, size_t{61440}, size_t{1} << 20}) {
    SCOPED_TRACE(size);
    EngineReply created = a_.Call(nxmsg::kBlobCreate, ObjectRequest{s.id}.Encode());
    ASSERT_EQ(created.code, 0u);
    int64_t blob = DecodeInt64Reply(created.data);
    Bytes content(size, '\0');
    for (size_t i = 0; i < size; ++i)
      content[i] = static_cast<char>((i * 7 + size) & 0xFF);
    // Written in pieces of at most 524288 bytes, as the client does.
    for (size_t off = 0; off < size; off += 524288) {
      BlobWriteRequest w{s.id, blob, static_cast<int32_t>(off), content.substr(off, 524288)};
      ASSERT_EQ(a_.Call(nxmsg::kBlobWrite, w.Encode()).code, 0u);
    }
    ASSERT_EQ(a_.Call(nxmsg::kBlobRelease, BlobRequest{s.id, blob}.Encode()).code, 0u);
    ASSERT_EQ(a_.Insert(s, Fingerprint(s, "1", "BLOB" + std::to_string(size), blob)), 0u);
    EngineReply len = a_.Call(nxmsg::kBlobGetLength, BlobRequest{s.id, blob}.Encode());
    ASSERT_EQ(len.code, 0u);
    EXPECT_EQ(DecodeInt32Reply(len.data), static_cast<int32_t>(size));
    Bytes back;
    for (int32_t off = 0; off < static_cast<int32_t>(size) + 1; off += 524288) {
      EngineReply piece =
          a_.Call(nxmsg::kBlobRead, BlobReadRequest{s.id, blob, off, 524288}.Encode());
      if (piece.code == 9998) {  // offset at the blob's end: the read is over
        EXPECT_EQ(back.size(), size);
        break;
      }
      ASSERT_TRUE(piece.code == 0 || piece.code == 8711) << piece.code;
      back += std::string(DecodeBlobReadReply(piece.data));
      if (piece.code == 8711)
        break;
    }
    EXPECT_TRUE(back == content);
    if (size > 0) {
      // Reading past the end: 8711 with the bytes that are there; at the end: 9998.
      EngineReply tail =
          a_.Call(nxmsg::kBlobRead,
                  BlobReadRequest{s.id, blob, static_cast<int32_t>(size) - 1, 10}.Encode());
      EXPECT_EQ(tail.code, 8711u);
      EXPECT_EQ(DecodeBlobReadReply(tail.data), content.substr(size - 1));
      EXPECT_EQ(a_.Call(nxmsg::kBlobRead,
                        BlobReadRequest{s.id, blob, static_cast<int32_t>(size), 1}.Encode())
                    .code,
                9998u);
    }
  }
  // Truncate, then the record's delete takes its blob with it.
  EngineReply last = a_.Get(nxmsg::kRecordGet, s);
  int64_t blob = GetInt64(*s.dict, last.data, "Jalki");
  ASSERT_EQ(a_.Call(nxmsg::kBlobTruncate, BlobTruncateRequest{s.id, blob, 5}.Encode()).code, 0u);
  EXPECT_EQ(DecodeInt32Reply(a_.Call(nxmsg::kBlobGetLength, BlobRequest{s.id, blob}.Encode()).data),
            5);
  EXPECT_EQ(a_.Call(nxmsg::kBlobTruncate, BlobTruncateRequest{s.id, blob, 6}.Encode()).code, 9998u);
  ASSERT_EQ(a_.Call(nxmsg::kRecordDelete, RecordDeleteRequest{s.id, 0}.Encode()).code, 0u);
  EXPECT_EQ(a_.Call(nxmsg::kBlobGetLength, BlobRequest{s.id, blob}.Encode()).code, 9990u);
  EXPECT_EQ(a_.Call(nxmsg::kBlobRelease, BlobRequest{s.id, blob}.Encode()).code, 13058u);
  // A record that names a blob that does not exist is refused.
  EXPECT_EQ(a_.Insert(s, Fingerprint(s, "1", "X", blob)), 10030u);
}

TEST_P(EngineRequests, RollbackUndoesRecordsAndBlobs) {
  OpenCursor s = a_.OpenTable(db_, "ASSORMI");
  EXPECT_EQ(a_.Simple(nxmsg::kTransactionLevel, db_), 10257u);
  EXPECT_EQ(a_.Simple(nxmsg::kTransactionCommit, db_), 10257u);
  ASSERT_EQ(a_.Insert(s, Fingerprint(s, "1", "KEEP")), 0u);
  TransactionStartRequest start{db_, 0, 0};
  ASSERT_EQ(a_.Call(nxmsg::kTransactionStart, start.Encode()).code, 0u);
  EngineReply level = a_.Call(nxmsg::kTransactionLevel, ObjectRequest{db_}.Encode());
  ASSERT_EQ(level.code, 0u);
  EXPECT_EQ(DecodeInt32Reply(level.data), 1);
  int64_t blob = DecodeInt64Reply(a_.Call(nxmsg::kBlobCreate, ObjectRequest{s.id}.Encode()).data);
  ASSERT_EQ(a_.Call(nxmsg::kBlobWrite, BlobWriteRequest{s.id, blob, 0, "template"}.Encode()).code,
            0u);
  ASSERT_EQ(a_.Insert(s, Fingerprint(s, "2", "GONE", blob)), 0u);
  // A nested transaction committed inside the outer one is undone with it.
  ASSERT_EQ(a_.Call(nxmsg::kTransactionStart, start.Encode()).code, 0u);
  ASSERT_EQ(a_.Insert(s, Fingerprint(s, "3", "GONE2")), 0u);
  ASSERT_EQ(a_.Simple(nxmsg::kTransactionCommit, db_), 0u);
  // A failing request inside the transaction leaves the transaction usable.
  EXPECT_EQ(a_.Insert(s, Fingerprint(s, "", "")), 0u);
  Bytes no_as_no = s.dict->NewRecord();
  EXPECT_EQ(a_.Insert(s, no_as_no), 9732u);
  EXPECT_EQ(a_.Count(s), 4);
  ASSERT_EQ(a_.Simple(nxmsg::kTransactionRollback, db_), 0u);
  EXPECT_EQ(a_.Count(s), 1);
  EXPECT_EQ(a_.Call(nxmsg::kBlobGetLength, BlobRequest{s.id, blob}.Encode()).code, 9990u);
  EXPECT_EQ(a_.Simple(nxmsg::kTransactionLevel, db_), 10257u);
}

TEST_P(EngineRequests, AliasesAndOpenModes) {
  EXPECT_EQ(a_.OpenDatabase("Muu"), 0);
  EXPECT_EQ(a_.last_code, 10014u);
  EXPECT_NE(a_.OpenDatabase(storage_.location(), 2, 1, "Path"), 0);
  EXPECT_EQ(a_.OpenDatabase("/tmp", 2, 1, "Path"), 0);
  EXPECT_EQ(a_.last_code, 10014u);
  EXPECT_EQ(a_.OpenDatabase("Tarvola", 2, 1, "Nimi"), 0);
  EXPECT_EQ(a_.last_code, 9986u);
  EngineReply aliases = a_.Call(nxmsg::kAliasList, EncodeEmpty());
  ASSERT_EQ(aliases.code, 0u);
  ASSERT_EQ(DecodeAliasListReply(aliases.data).size(), 1u);
  EXPECT_EQ(DecodeAliasListReply(aliases.data)[0].name, "Tarvola");
  // Read-only database: reading works, writing is refused.
  int32_t ro = a_.OpenDatabase("tarvola", 0);
  ASSERT_NE(ro, 0);
  OpenCursor c = a_.OpenTable(ro, "ASIAKAS", 0);
  ASSERT_EQ(a_.last_code, 0u);
  EXPECT_EQ(a_.Insert(c, Customer(c, "1", "Nimi")), 10501u);
  // A read-only cursor on a writable database.
  OpenCursor c2 = a_.OpenTable(db_, "ASIAKAS", 0);
  EXPECT_EQ(a_.Insert(c2, Customer(c2, "1", "Nimi")), 10763u);
  // Exclusive use conflicts with the databases already open.
  EXPECT_EQ(a_.OpenDatabase("Tarvola", 2, 0), 0);
  EXPECT_EQ(a_.last_code, 10253u);
  // Closing a database closes its cursors.
  ASSERT_EQ(a_.Simple(nxmsg::kDatabaseClose, ro), 0u);
  EXPECT_EQ(a_.Simple(nxmsg::kCursorSetToBegin, c.id), 9990u);
}

TEST_P(EngineRequests, BadRequestsAreAnsweredNotObeyed) {
  OpenCursor c = a_.OpenTable(db_, "ASIAKAS");
  EXPECT_EQ(a_.Call(0x7777, "").code, 15522u);                // unknown id
  EXPECT_EQ(a_.Call(nxmsg::kRecordGet, "\x01").code, 9986u);  // short payload
  Bytes get = RecordGetRequest{c.id, 0, 0, 0}.Encode();
  EXPECT_EQ(a_.Call(nxmsg::kRecordGet, get + "x").code, 9986u);  // long payload
  EXPECT_EQ(a_.Simple(nxmsg::kCursorSetToBegin, 424242), 9990u);
  EXPECT_EQ(a_.Call(nxmsg::kRecordGetNext, RecordGetRequest{c.id, 0, 7, 0}.Encode()).code,
            9986u);  // a record length that is not the table's
  EXPECT_EQ(a_.Call(nxmsg::kBlobRead, BlobReadRequest{c.id, 1, -1, 5}.Encode()).code, 9986u);
  EXPECT_EQ(a_.Call(nxmsg::kBlobRead, BlobReadRequest{c.id, 99, 0, 5}.Encode()).code, 9990u);
  ObjectInt32Request huge_bookmark{c.id, 1 << 30};
  EXPECT_EQ(a_.Call(nxmsg::kCursorGetBookmark, huge_bookmark.Encode()).code, 9986u);
  EXPECT_EQ(a_.Call(nxmsg::kStatementAlloc, ObjectInt32Request{db_, 0}.Encode()).code, 12289u);
  // An unknown session gets nothing done.
  EXPECT_EQ(engine_.Dispatch(99, nxmsg::kAliasList, "").code, 9990u);
  // The session is still healthy.
  EXPECT_EQ(a_.Count(c), 0);
}

TEST_P(EngineRequests, CloneAndSetToCursorShareThePosition) {
  OpenCursor s = a_.OpenTable(db_, "ASSORMI");
  for (const char* card : {"A", "B", "C"})
    ASSERT_EQ(a_.Insert(s, Fingerprint(s, "1", card)), 0u);
  ASSERT_EQ(a_.Simple(nxmsg::kCursorSetToBegin, s.id), 0u);
  ASSERT_EQ(a_.Get(nxmsg::kRecordGetNext, s).code, 0u);  // A
  ASSERT_EQ(a_.Get(nxmsg::kRecordGetNext, s).code, 0u);  // B
  EngineReply cloned = a_.Call(nxmsg::kCursorClone, ObjectByteRequest{s.id, 0}.Encode());
  ASSERT_EQ(cloned.code, 0u);
  CursorCloneReply c = CursorCloneReply::Decode(cloned.data);
  EXPECT_NE(c.cursor_id, s.id);
  EXPECT_EQ(c.index_number, s.index);
  OpenCursor clone{c.cursor_id, c.index_number, s.dict};
  EngineReply r = a_.Get(nxmsg::kRecordGetNext, clone);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "C");
  // The clone was opened read-only (mode 0).
  EXPECT_EQ(a_.Insert(clone, Fingerprint(s, "1", "D")), 10763u);
  // The first cursor takes the clone's position.
  ASSERT_EQ(a_.Call(nxmsg::kCursorSetToCursor, ObjectInt32Request{s.id, clone.id}.Encode()).code,
            0u);
  r = a_.Get(nxmsg::kRecordGet, s);
  EXPECT_EQ(GetText(*s.dict, r.data, "KorttiLyh"), "C");
  // Not across tables, and not with a cursor of another session.
  OpenCursor other = a_.OpenTable(db_, "KORTTI");
  EXPECT_EQ(a_.Call(nxmsg::kCursorSetToCursor, ObjectInt32Request{s.id, other.id}.Encode()).code,
            10020u);
  TestClient b(engine_, 2);
  int32_t db_b = b.OpenDatabase();
  OpenCursor sb = b.OpenTable(db_b, "ASSORMI");
  EXPECT_EQ(a_.Call(nxmsg::kCursorSetToCursor, ObjectInt32Request{s.id, sb.id}.Encode()).code,
            9990u);
  EngineReply index = a_.Call(nxmsg::kCursorGetIndexId, ObjectRequest{s.id}.Encode());
  EXPECT_EQ(DecodeInt32Reply(index.data), s.index);
}

INSTANTIATE_TEST_SUITE_P(StorageAndStringTypes, EngineRequests,
                         ::testing::Combine(::testing::ValuesIn(StorageKinds()),
                                            ::testing::Values(nxtShortString, nxtNullString)),
                         [](const auto& p) {
                           return StorageName(std::get<0>(p.param)) +
                                  (std::get<1>(p.param) == nxtShortString ? "ShortString"
                                                                          : "NullString");
                         });

}  // namespace
}  // namespace vantera::testing
