// Requests of the remote engine: the message-id table and every payload and reply codec.
//
// This is the one place where request payloads and reply bytes are built and parsed; the
// client engine encodes requests and decodes replies, the server decodes requests and
// encodes replies with the same structures.
//
// Two payload encodings occur; a request uses one of them for its whole payload:
//   fixed record   fields back to back, no padding, little-endian; i32 signed 32-bit, u16,
//                  u8, i64 (low half first); a short string ("ss") is exactly 256 bytes:
//                  length byte, the text (cut to 255), zero padding.
//   tagged stream  the tagged values of tagged_stream.h.
// Every fixed-record payload of a database, cursor, statement or task request starts with
// that object's i32 id; every tagged one with the id as its first Int.
//
// Decoders take untrusted bytes: every length is checked against what remains before it is
// used, negative lengths and sizes are refused, and a fixed record must be consumed
// exactly. Failures throw DecodeError (TaggedStreamError for tagged streams).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"
#include "protocol/request_list.h"

namespace vantera {

class TaggedReader;

// ---- Message ids ----
namespace nxmsg {
#define VANTERA_REQUEST_ID(constant, id, name, owner, encoding, handler) \
  inline constexpr uint16_t constant = id;
VANTERA_REQUESTS(VANTERA_REQUEST_ID)
#undef VANTERA_REQUEST_ID
// A reply that carries several sub-replies (never a request).
inline constexpr uint16_t kBatchReply = 255;
}  // namespace nxmsg

// Which object sends a request, and so which id leads its payload.
enum class RequestOwner : uint8_t { kSession, kDatabase, kCursor, kStatement, kTask };

struct RequestInfo {
  uint16_t id;
  const char* name;  // "AliasAdd"; requests without a name of their own: "Request0111"
  RequestOwner owner;
  bool tagged;  // payload is a tagged stream
};

// The whole table in ascending id order.
const RequestInfo* nxRequestTable(size_t* count);
// The entry of `id`, or nullptr for an id the protocol does not have.
const RequestInfo* nxFindRequest(uint32_t id);
// The request's name, or "Request$XXXX" for an unknown id.
std::string nxRequestName(uint32_t id);

// Throws DecodeError unless `r` is at its end: fixed records are consumed exactly.
void ExpectEnd(const Reader& r, const char* what);

// Bounded length from the wire: a negative value, or one beyond `remaining`, is refused.
size_t CheckedLength(int64_t length, size_t remaining, const char* what);

// ================= Requests: fixed-record shapes shared by several ids =================

// Just the object id (SetToBegin, Commit, Close, RecordCount ...), or nothing at all for
// session requests without a payload (AliasList): use EncodeEmpty / DecodeEmpty.
struct ObjectRequest {
  int32_t id = 0;
  Bytes Encode() const;
  static ObjectRequest Decode(std::string_view payload);
};
Bytes EncodeEmpty();
void DecodeEmpty(std::string_view payload);

// Object id and one i32: set-timeout requests, StatementAlloc (timeout),
// CursorSetToCursor (other cursor), CursorGetBookmark (size), FilterSetTimeout,
// FilterActivate/Deactivate/Remove (handle), Request0352, StatementSetTimeout.
struct ObjectInt32Request {
  int32_t id = 0;
  int32_t value = 0;
  Bytes Encode() const;
  static ObjectInt32Request Decode(std::string_view payload);
};

// Object id and one u8: RecordIsLocked (lock mode), RecordRelLock (all-locks flag),
// CursorClone (open mode), Request03D3 (kind), StatementExec (mode).
struct ObjectByteRequest {
  int32_t id = 0;
  uint8_t value = 0;
  Bytes Encode() const;
  static ObjectByteRequest Decode(std::string_view payload);
};

// Session timeout: one i32 and nothing before it.
struct SessionSetTimeoutRequest {
  int32_t timeout = 0;
  Bytes Encode() const;
  static SessionSetTimeoutRequest Decode(std::string_view payload);
};

// Object id, then short strings (one to three): TablePack, TableExists,
// TableGetDictionary, Request0218..021A (one), TableRename (two). Session requests without
// an id: AliasDelete, AliasGetPath (one), AliasAdd (two), AliasModify (three), with
// has_id false.
struct NamesRequest {
  bool has_id = true;
  int32_t id = 0;
  std::vector<std::string> names;
  Bytes Encode() const;
  // `count` names are expected.
  static NamesRequest Decode(std::string_view payload, bool has_id, size_t count);
};

// Object id and the rest as opaque bytes: CursorLocate and FilterAdd (serialised filter
// expression), Request0392 / 03A1..03B3 (their own payloads), RecordInsertBatch (the batch
// stream whose first four bytes are the cursor id: there `id` is those bytes).
struct ObjectBytesRequest {
  int32_t id = 0;
  Bytes data;
  Bytes Encode() const;
  static ObjectBytesRequest Decode(std::string_view payload);
};

// ================= Requests: one shape each =================

struct DatabaseOpenRequest {  // 518 bytes
  std::string keyword;        // "Name" or "Path"
  std::string alias;          // alias name or path
  uint8_t open_mode = 2;      // 2 read-write, 0 read-only
  uint8_t share_mode = 1;     // 1 shared, 0 exclusive
  int32_t timeout = 0;
  Bytes Encode() const;
  static DatabaseOpenRequest Decode(std::string_view payload);
};

struct TransactionStartRequest {  // 6 bytes
  int32_t database_id = 0;
  uint8_t fail_safe = 0;
  uint8_t second_flag = 0;
  Bytes Encode() const;
  static TransactionStartRequest Decode(std::string_view payload);
};

struct TransactionStartWithRequest {  // tagged
  int32_t database_id = 0;
  bool flag1 = false;
  bool flag2 = false;
  std::vector<int32_t> cursor_ids;
  Bytes Encode() const;
  static TransactionStartWithRequest Decode(std::string_view payload);
};

// TableCreate: tagged Int database id, Bool, Str table name, then the dictionary stream.
struct TableCreateRequest {
  int32_t database_id = 0;
  bool flag = false;
  std::string table_name;
  Bytes dictionary;  // the written dictionary stream, sent as it is
  Bytes Encode() const;
  // The dictionary is the rest of the payload, returned unparsed.
  static TableCreateRequest Decode(std::string_view payload);
};

// TableRestructure: tagged Int database id, Str table name, dictionary stream, then a list
// of Str field-map entries (list begin, entries, list end).
struct TableRestructureRequest {
  int32_t database_id = 0;
  std::string table_name;
  Bytes dictionary;
  std::vector<std::string> field_map;
  Bytes Encode() const;
  // The dictionary has no length of its own, so the caller reads it from the stream:
  // `read_dictionary` must consume exactly the dictionary's values.
  static TableRestructureRequest Decode(std::string_view payload,
                                        const std::function<void(TaggedReader&)>& read_dictionary);
};

// IndexAdd: tagged Int database id, Str table name, then the index descriptor's values.
struct IndexAddRequest {
  int32_t database_id = 0;
  std::string table_name;
  Bytes index_descriptor;  // written by the dictionary code, sent as it is
  Bytes Encode() const;
  static IndexAddRequest Decode(std::string_view payload);
};

// TableReindex and IndexDrop: id, ss table, ss index, i32 index number (520 bytes).
struct TableIndexRequest {
  int32_t database_id = 0;
  std::string table_name;
  std::string index_name;
  int32_t index_number = 0;
  Bytes Encode() const;
  static TableIndexRequest Decode(std::string_view payload);
};

// Request0224: tagged Int database id, Str table name.
struct TaggedTableNameRequest {
  int32_t database_id = 0;
  std::string table_name;
  Bytes Encode() const;
  static TaggedTableNameRequest Decode(std::string_view payload);
};

struct TableOpenRequest {  // 266 bytes
  int32_t database_id = 0;
  std::string table_name;
  uint8_t open_mode = 2;
  uint8_t share_mode = 1;
  int32_t timeout = 0;
  Bytes Encode() const;
  static TableOpenRequest Decode(std::string_view payload);
};

// One statement parameter: Str name, Int type, Int size n, and List(n bytes) when n > 0.
struct StatementParam {
  std::string name;
  int32_t type = 0;
  Bytes value;
};

struct StatementExecDirectRequest {  // tagged
  int32_t database_id = 0;
  int32_t timeout = 0;
  std::string text;
  std::vector<StatementParam> params;
  int32_t mode = 0;
  Bytes Encode() const;
  static StatementExecDirectRequest Decode(std::string_view payload);
};

struct StatementPrepareRequest {  // tagged: Int statement id, Str text
  int32_t statement_id = 0;
  std::string text;
  Bytes Encode() const;
  static StatementPrepareRequest Decode(std::string_view payload);
};

struct StatementSetParamsRequest {  // tagged: Int statement id, Int count, params
  int32_t statement_id = 0;
  std::vector<StatementParam> params;
  Bytes Encode() const;
  static StatementSetParamsRequest Decode(std::string_view payload);
};

// CursorCompareBookmarks (two bookmarks) and CursorSetToBookmark (one): tagged Int cursor
// id, Int size, then List(size bytes) per bookmark; every bookmark has `size` bytes.
struct BookmarksRequest {
  int32_t cursor_id = 0;
  std::vector<Bytes> bookmarks;
  Bytes Encode() const;  // size taken from the first bookmark
  static BookmarksRequest Decode(std::string_view payload, size_t count);
};

// RecordGet, RecordGetNext, RecordGetPrior: id, u8 lock mode, u16 length wanted,
// u16 bookmark size (9 bytes).
struct RecordGetRequest {
  int32_t cursor_id = 0;
  uint8_t lock_mode = 0;
  uint16_t record_length = 0;
  uint16_t bookmark_size = 0;
  Bytes Encode() const;
  static RecordGetRequest Decode(std::string_view payload);
};

// RecordInsert (Int lock mode) and RecordModify (Bool release-lock): tagged Int cursor id,
// the mode, Int RecLen, List(RecLen bytes) image, Int BmSize.
struct RecordWriteRequest {
  int32_t cursor_id = 0;
  int32_t lock_mode = 0;     // RecordInsert
  bool release_lock = true;  // RecordModify
  Bytes record;
  int32_t bookmark_size = 0;
  Bytes Encode(uint16_t message_id) const;
  static RecordWriteRequest Decode(uint16_t message_id, std::string_view payload);
};

struct RecordDeleteRequest {  // 6 bytes
  int32_t cursor_id = 0;
  uint16_t record_length = 0;
  Bytes Encode() const;
  static RecordDeleteRequest Decode(std::string_view payload);
};

struct CursorSwitchToIndexRequest {  // 265 bytes
  int32_t cursor_id = 0;
  std::string index_name;
  int32_t index_number = -1;  // -1: by name
  uint8_t keep_position = 1;
  Bytes Encode() const;
  static CursorSwitchToIndexRequest Decode(std::string_view payload);
};

struct CursorSetToKeyRequest {  // 14 + key image
  int32_t cursor_id = 0;
  int32_t field_count = 0;
  int32_t partial_length = 0;
  uint8_t search_action = 0;
  Bytes key;
  Bytes Encode() const;
  static CursorSetToKeyRequest Decode(std::string_view payload);
};

struct RecordGetForKeyRequest {  // 19 + key image
  int32_t cursor_id = 0;
  int32_t field_count = 0;
  int32_t partial_length = 0;
  uint8_t first_call = 1;
  uint16_t record_length = 0;
  uint16_t bookmark_size = 0;
  Bytes key;
  Bytes Encode() const;
  static RecordGetForKeyRequest Decode(std::string_view payload);
};

// One end of a range: an empty key is an open end (sent with length 0).
struct RangeEnd {
  int32_t field_count = 0;
  int32_t partial_length = 0;
  bool inclusive = true;
  Bytes key;
};

struct CursorSetRangeRequest {  // 32 + both key lengths
  int32_t cursor_id = 0;
  RangeEnd start;
  RangeEnd end;
  Bytes Encode() const;
  static CursorSetRangeRequest Decode(std::string_view payload);
};

struct CursorCompareKeysRequest {  // 22 + both key lengths
  int32_t cursor_id = 0;
  int32_t value1 = 0;
  int32_t value2 = 0;
  Bytes key1;
  Bytes key2;
  Bytes Encode() const;
  static CursorCompareKeysRequest Decode(std::string_view payload);
};

// RecordGetBatch (no limit) and its byte-limited form.
struct RecordGetBatchRequest {
  int32_t cursor_id = 0;
  int32_t record_count = 0;
  bool has_limit = false;
  int32_t byte_limit = 0;
  uint8_t options = 3;  // 1 blobs, 2 bookmarks
  Bytes Encode() const;
  static RecordGetBatchRequest Decode(std::string_view payload, bool has_limit);
};

// RecordCopy (has_option false) and RecordCopyWithOption.
struct RecordCopyRequest {
  int32_t cursor_id = 0;
  int32_t source_cursor_id = 0;
  uint8_t blob_copy_mode = 0;
  int32_t value = 0;
  bool has_option = false;
  uint8_t option = 0;
  Bytes Encode() const;
  static RecordCopyRequest Decode(std::string_view payload, bool has_option);
};

// BlobRelease, BlobGetLength, Request0393: id, i64 blob number (12 bytes).
struct BlobRequest {
  int32_t cursor_id = 0;
  int64_t blob = 0;
  Bytes Encode() const;
  static BlobRequest Decode(std::string_view payload);
};

struct BlobReadRequest {  // 20 bytes
  int32_t cursor_id = 0;
  int64_t blob = 0;
  int32_t offset = 0;
  int32_t length = 0;
  Bytes Encode() const;
  static BlobReadRequest Decode(std::string_view payload);
};

struct BlobWriteRequest {  // 20 + n
  int32_t cursor_id = 0;
  int64_t blob = 0;
  int32_t offset = 0;
  Bytes data;
  Bytes Encode() const;
  static BlobWriteRequest Decode(std::string_view payload);
};

struct BlobTruncateRequest {  // 16 bytes
  int32_t cursor_id = 0;
  int64_t blob = 0;
  int32_t length = 0;
  Bytes Encode() const;
  static BlobTruncateRequest Decode(std::string_view payload);
};

// ================= Replies =================

// Empty replies: nothing to decode; a decoder that wants none ignores the bytes.

// One i32: DatabaseOpen (database id), TransactionLevel, TablePack / TableReindex /
// TableRestructure / CursorRecordCountAsync (task id), Request0224, StatementAlloc,
// FilterAdd (handle), CursorSwitchToIndex / CursorGetIndexId (index number),
// CursorRecordCount, BlobGetLength, Request0351, Request03D3.
Bytes EncodeInt32Reply(int32_t value);
int32_t DecodeInt32Reply(std::string_view reply);

// BlobCreate: the new blob number (i64). Request0251: 8 bytes as well.
Bytes EncodeInt64Reply(int64_t value);
int64_t DecodeInt64Reply(std::string_view reply);

// TableExists, RecordIsLocked (u8 Boolean), CursorCompareBookmarks and CursorCompareKeys
// (u8 read as a signed comparison result).
Bytes EncodeByteReply(uint8_t value);
uint8_t DecodeByteReply(std::string_view reply);

// AliasGetPath: one short string.
Bytes EncodeShortStringReply(std::string_view text);
std::string DecodeShortStringReply(std::string_view reply);

// AliasList: list begin, per alias Str name and Str path, list end.
struct AliasEntry {
  std::string name;
  std::string path;
};
Bytes EncodeAliasListReply(const std::vector<AliasEntry>& aliases);
std::vector<AliasEntry> DecodeAliasListReply(std::string_view reply);

// TableList: list begin, Str per table, list end.
Bytes EncodeTableListReply(const std::vector<std::string>& tables);
std::vector<std::string> DecodeTableListReply(std::string_view reply);

// TableOpen: Int cursor id, Int current index number, then the dictionary stream.
struct TableOpenReply {
  int32_t cursor_id = 0;
  int32_t index_number = 0;
  Bytes dictionary;
  Bytes Encode() const;
  // The dictionary is the rest of the reply, returned unparsed.
  static TableOpenReply Decode(std::string_view reply);
};

// CursorClone: i32 new cursor id, i32 its current index number.
struct CursorCloneReply {
  int32_t cursor_id = 0;
  int32_t index_number = 0;
  Bytes Encode() const;
  static CursorCloneReply Decode(std::string_view reply);
};

// BlobRead: i32 bytes read n, then n bytes.
Bytes EncodeBlobReadReply(std::string_view data);
std::string_view DecodeBlobReadReply(std::string_view reply);

// RecordGetBatch: i32 result code, i32 record count, per record i32 length and its bytes.
struct RecordBatchReply {
  int32_t result = 0;
  std::vector<Bytes> records;
  Bytes Encode() const;
  static RecordBatchReply Decode(std::string_view reply);
};

// StatementExec: i32 cursor id (0 when no rows), then the dictionary stream when not 0.
struct StatementExecReply {
  int32_t cursor_id = 0;
  Bytes dictionary;
  Bytes Encode() const;
  static StatementExecReply Decode(std::string_view reply);
};

// StatementExecDirect: u8 part count, then the parts, kept as they are.
struct StatementExecDirectReply {
  uint8_t part_count = 0;
  Bytes parts;
  Bytes Encode() const;
  static StatementExecDirectReply Decode(std::string_view reply);
};

// TaskGetStatus: a 26-byte status record; its last byte is the status.
inline constexpr size_t kTaskStatusSize = 26;
Bytes EncodeTaskStatusReply(std::string_view record);
std::string_view DecodeTaskStatusReply(std::string_view reply);

// A batch reply (message id 255): sub-replies of i32 message id, i32 size including this
// 12-byte header, i32 result code, then size - 12 bytes.
struct SubReply {
  uint32_t message_id = 0;
  uint32_t result = 0;
  Bytes data;
};
inline constexpr size_t kSubReplyHeaderSize = 12;
Bytes EncodeBatchReply(const std::vector<SubReply>& replies);
std::vector<SubReply> DecodeBatchReply(std::string_view reply);

}  // namespace vantera
