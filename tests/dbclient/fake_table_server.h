// A small in-memory table behind the recording transport: enough of the server's cursor
// requests to drive the table cursor through its operations while every request is
// recorded. One table, one cursor (id kCursorId), rows kept in insertion order and shown in
// the order of the current index, ranges by key comparison, blobs in a map.
#pragma once

#include <algorithm>
#include <map>
#include <numeric>

#include "protocol/nxRequests.h"
#include "protocol/nxsdKeys.h"
#include "tests/dbclient/recording_transport.h"

namespace vantera::testing {

class FakeTableServer {
 public:
  static constexpr int32_t kDatabaseId = 3;
  static constexpr int32_t kCursorId = 21;  // the first cursor opened

  FakeTableServer(RecordingTransport& transport, TnxDataDictionary dictionary)
      : transport_(transport), dict_(std::move(dictionary)) {
    transport_.handler = [this](const RecordedRequest& r) { return Dispatch(r); };
  }
  ~FakeTableServer() { transport_.handler = nullptr; }
  FakeTableServer(const FakeTableServer&) = delete;
  FakeTableServer& operator=(const FakeTableServer&) = delete;

  std::vector<Bytes> rows;
  std::map<int64_t, Bytes> blobs;
  int64_t next_blob = 100;
  int32_t transaction_level = -1;
  // Answers every request with this code once set (0: off).
  uint32_t fail_id = 0;
  uint32_t fail_code = 0;

  Bytes NewRow() const { return dict_.NewRecord(); }
  void SetText(Bytes& row, const char* field, std::string_view text) const {
    int f = dict_.FieldNumber(field);
    Bytes bytes(static_cast<size_t>(dict_.Field(f).length), '\0');
    if (dict_.Field(f).type == nxtShortString) {
      bytes[0] = static_cast<char>(text.size());
      std::copy(text.begin(), text.end(), bytes.begin() + 1);
    } else {
      std::copy(text.begin(), text.end(), bytes.begin());
    }
    dict_.SetFieldBytes(std::span<char>(row.data(), row.size()), f, bytes);
  }
  void SetInt(Bytes& row, const char* field, int32_t v) const {
    char b[4];
    EncodeFixed32(b, static_cast<uint32_t>(v));
    dict_.SetFieldBytes(std::span<char>(row.data(), row.size()), dict_.FieldNumber(field),
                        std::string_view(b, 4));
  }
  void SetBlob(Bytes& row, const char* field, int64_t blob) const {
    char b[8];
    EncodeFixed64(b, static_cast<uint64_t>(blob));
    dict_.SetFieldBytes(std::span<char>(row.data(), row.size()), dict_.FieldNumber(field),
                        std::string_view(b, 8));
  }
  const TnxDataDictionary& Dictionary() const { return dict_; }

 private:
  // Row numbers in index order within the range.
  std::vector<size_t> View() const {
    std::vector<size_t> v(rows.size());
    std::iota(v.begin(), v.end(), 0);
    if (index_ < 0)
      return v;
    KeyComparer cmp(dict_, index_);
    std::stable_sort(v.begin(), v.end(),
                     [&](size_t a, size_t b) { return cmp.CompareRecords(rows[a], rows[b]) < 0; });
    if (ranged_) {
      std::vector<size_t> in;
      for (size_t i : v) {
        if (!start_.key.empty() && cmp.CompareRecords(rows[i], start_.key, start_.field_count) < 0)
          continue;
        if (!end_.key.empty() && cmp.CompareRecords(rows[i], end_.key, end_.field_count) > 0)
          continue;
        in.push_back(i);
      }
      return in;
    }
    return v;
  }

  ScriptedReply Ok(const RecordedRequest& r, Bytes data = {}) {
    return {r.message_id, 0, std::move(data)};
  }
  ScriptedReply Code(const RecordedRequest& r, uint32_t code) { return {r.message_id, code, {}}; }

  Bytes Bookmark(size_t size) const {
    Bytes b(size, '\0');
    if (size >= 4 && pos_ >= 0 && pos_ < static_cast<int64_t>(View().size()))
      EncodeFixed32(b.data(), static_cast<uint32_t>(View()[static_cast<size_t>(pos_)]));
    return b;
  }

  ScriptedReply Handle(const RecordedRequest& r) {
    if (fail_id == r.message_id && fail_code != 0)
      return Code(r, fail_code);
    auto view = View();
    auto n = static_cast<int64_t>(view.size());
    switch (r.message_id) {
      case nxmsg::kDatabaseOpen:
        return Ok(r, EncodeInt32Reply(kDatabaseId));
      case nxmsg::kTableOpen: {
        int32_t id = next_cursor_++;
        cursors_[id] = CursorState{dict_.DefaultIndex(), -1, false, {}, {}};
        return Ok(r, TableOpenReply{id, dict_.DefaultIndex(), dict_.ToBytes()}.Encode());
      }
      case nxmsg::kCursorSwitchToIndex: {
        auto q = CursorSwitchToIndexRequest::Decode(r.payload);
        int i = dict_.IndexNumber(q.index_name);
        if (i < 0)
          return Code(r, 9997);
        bool on_row = pos_ >= 0 && pos_ < n;
        size_t row = on_row ? view[static_cast<size_t>(pos_)] : 0;
        index_ = i;
        if (!q.keep_position || !on_row) {
          pos_ = q.keep_position && pos_ >= n ? static_cast<int64_t>(View().size()) : -1;
        } else {
          auto after = View();
          pos_ = std::find(after.begin(), after.end(), row) - after.begin();
        }
        return Ok(r, EncodeInt32Reply(i));
      }
      case nxmsg::kCursorSetToBegin:
        pos_ = -1;
        return Ok(r);
      case nxmsg::kCursorSetToEnd:
        pos_ = n;
        return Ok(r);
      case nxmsg::kRecordGetNext:
      case nxmsg::kRecordGetPrior:
      case nxmsg::kRecordGet: {
        auto q = RecordGetRequest::Decode(r.payload);
        if (r.message_id == nxmsg::kRecordGetNext && ++pos_ >= n) {
          pos_ = n;
          return Code(r, 8706);
        }
        if (r.message_id == nxmsg::kRecordGetPrior && --pos_ < 0) {
          pos_ = -1;
          return Code(r, 8705);
        }
        if (pos_ < 0 || pos_ >= n)
          return Code(r, 8709);
        return Ok(r, q.record_length ? rows[view[static_cast<size_t>(pos_)]] : Bytes());
      }
      case nxmsg::kCursorGetBookmark:
        return Ok(r, Bookmark(static_cast<size_t>(ObjectInt32Request::Decode(r.payload).value)));
      case nxmsg::kCursorSetToBookmark: {
        auto q = BookmarksRequest::Decode(r.payload, 1);
        auto row = DecodeFixed32(q.bookmarks[0].data());
        auto it = std::find(view.begin(), view.end(), row);
        if (it == view.end())
          return Code(r, 8708);
        pos_ = it - view.begin();
        return Ok(r);
      }
      case nxmsg::kRecordGetForKey: {
        auto q = RecordGetForKeyRequest::Decode(r.payload);
        KeyComparer cmp(dict_, index_);
        for (int64_t i = 0; i < n; ++i) {
          if (cmp.CompareRecords(rows[view[static_cast<size_t>(i)]], q.key, q.field_count) == 0) {
            pos_ = i;
            return Ok(r, q.record_length ? rows[view[static_cast<size_t>(i)]] : Bytes());
          }
        }
        return Code(r, 8710);
      }
      case nxmsg::kCursorSetRange: {
        auto q = CursorSetRangeRequest::Decode(r.payload);
        start_ = q.start;
        end_ = q.end;
        ranged_ = true;
        pos_ = -1;
        return Ok(r);
      }
      case nxmsg::kCursorResetRange:
        if (pos_ >= 0 && pos_ < n) {
          size_t row = view[static_cast<size_t>(pos_)];
          ranged_ = false;
          auto all = View();
          pos_ = std::find(all.begin(), all.end(), row) - all.begin();
        } else {
          ranged_ = false;
        }
        return Ok(r);
      case nxmsg::kCursorRecordCount:
        return Ok(r, EncodeInt32Reply(static_cast<int32_t>(n)));
      case nxmsg::kRecordInsert:
      case nxmsg::kRecordModify: {
        auto q = RecordWriteRequest::Decode(static_cast<uint16_t>(r.message_id), r.payload);
        size_t row;
        if (r.message_id == nxmsg::kRecordInsert) {
          rows.push_back(q.record);
          row = rows.size() - 1;
        } else {
          if (pos_ < 0 || pos_ >= n)
            return Code(r, 8709);
          row = view[static_cast<size_t>(pos_)];
          rows[row] = q.record;
        }
        auto after = View();
        pos_ = std::find(after.begin(), after.end(), row) - after.begin();
        return Ok(r);
      }
      case nxmsg::kRecordDelete:
        if (pos_ < 0 || pos_ >= n)
          return Code(r, 8709);
        rows.erase(rows.begin() + static_cast<int64_t>(view[static_cast<size_t>(pos_)]));
        return Ok(r);
      case nxmsg::kBlobCreate:
        blobs[next_blob] = {};
        return Ok(r, EncodeInt64Reply(next_blob++));
      case nxmsg::kBlobWrite: {
        auto q = BlobWriteRequest::Decode(r.payload);
        Bytes& b = blobs[q.blob];
        if (b.size() < static_cast<size_t>(q.offset) + q.data.size())
          b.resize(static_cast<size_t>(q.offset) + q.data.size());
        std::copy(q.data.begin(), q.data.end(), b.begin() + q.offset);
        return Ok(r);
      }
      case nxmsg::kBlobRead: {
        auto q = BlobReadRequest::Decode(r.payload);
        const Bytes& b = blobs[q.blob];
        if (static_cast<size_t>(q.offset) >= b.size())
          return Code(r, 9998);
        return Ok(r, EncodeBlobReadReply(
                         b.substr(static_cast<size_t>(q.offset), static_cast<size_t>(q.length))));
      }
      case nxmsg::kBlobGetLength:
        return Ok(r, EncodeInt32Reply(
                         static_cast<int32_t>(blobs[BlobRequest::Decode(r.payload).blob].size())));
      case nxmsg::kBlobTruncate: {
        auto q = BlobTruncateRequest::Decode(r.payload);
        blobs[q.blob].resize(static_cast<size_t>(q.length));
        return Ok(r);
      }
      case nxmsg::kTransactionLevel:
        return transaction_level < 0 ? Code(r, 10257) : Ok(r, EncodeInt32Reply(transaction_level));
      case nxmsg::kTransactionStart:
        ++transaction_level;
        return Ok(r);
      case nxmsg::kTransactionCommit:
      case nxmsg::kTransactionRollback:
        --transaction_level;
        return Ok(r);
      default:
        return Ok(r);
    }
  }

  struct CursorState {
    int index = 0;
    int64_t pos = -1;
    bool ranged = false;
    RangeEnd start, end;
  };

  // The cursor a request names: the leading i32 of a fixed record, or the first Int of a
  // tagged payload.
  int32_t CursorOf(const RecordedRequest& r) const {
    switch (r.message_id) {
      case nxmsg::kCursorSetToBookmark:
        return BookmarksRequest::Decode(r.payload, 1).cursor_id;
      case nxmsg::kCursorCompareBookmarks:
        return BookmarksRequest::Decode(r.payload, 2).cursor_id;
      case nxmsg::kRecordInsert:
      case nxmsg::kRecordModify:
        return RecordWriteRequest::Decode(static_cast<uint16_t>(r.message_id), r.payload).cursor_id;
      default:
        return r.payload.size() >= 4 ? static_cast<int32_t>(DecodeFixed32(r.payload.data())) : 0;
    }
  }

  ScriptedReply Dispatch(const RecordedRequest& r) {
    if (r.message_id >= 0x0300 && r.message_id < 0x0400) {
      auto it = cursors_.find(CursorOf(r));
      if (it == cursors_.end())
        return Code(r, 9990);
      CursorState& c = it->second;
      index_ = c.index;
      pos_ = c.pos;
      ranged_ = c.ranged;
      start_ = c.start;
      end_ = c.end;
      ScriptedReply reply = Handle(r);
      c = CursorState{index_, pos_, ranged_, start_, end_};
      return reply;
    }
    return Handle(r);
  }

  RecordingTransport& transport_;
  TnxDataDictionary dict_;
  std::map<int32_t, CursorState> cursors_;
  int32_t next_cursor_ = kCursorId;
  // The state of the cursor being served.
  int index_ = 0;
  int64_t pos_ = -1;
  bool ranged_ = false;
  RangeEnd start_, end_;
};

}  // namespace vantera::testing
