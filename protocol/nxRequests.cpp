// The request table (id, name, owner, payload encoding) and the checks every decoder uses.
// The codecs themselves are in one file per request family: requests_session.cpp,
// requests_database.cpp, requests_transaction.cpp, requests_cursor.cpp, requests_blob.cpp,
// requests_shared.cpp (shapes shared by several ids) and replies.cpp.
#include "protocol/nxRequests.h"

#include <cstdio>

namespace vantera {

namespace {

using O = RequestOwner;

constexpr RequestInfo kRequests[] = {
    {nxmsg::kAliasAdd, "AliasAdd", O::kSession, false},
    {nxmsg::kAliasDelete, "AliasDelete", O::kSession, false},
    {nxmsg::kAliasModify, "AliasModify", O::kSession, false},
    {nxmsg::kAliasList, "AliasList", O::kSession, false},
    {nxmsg::kAliasGetPath, "AliasGetPath", O::kSession, false},
    {nxmsg::kSession0111, "Request0111", O::kSession, false},
    {nxmsg::kSession0112, "Request0112", O::kSession, false},
    {nxmsg::kDatabaseOpen, "DatabaseOpen", O::kSession, false},
    {nxmsg::kSessionSetTimeout, "SessionSetTimeout", O::kSession, false},
    {nxmsg::kTransactionStart, "TransactionStart", O::kDatabase, false},
    {nxmsg::kTransactionStartWith, "TransactionStartWith", O::kDatabase, true},
    {nxmsg::kTransactionCommit, "TransactionCommit", O::kDatabase, false},
    {nxmsg::kTransactionRollback, "TransactionRollback", O::kDatabase, false},
    {nxmsg::kDatabase0205, "Request0205", O::kDatabase, false},
    {nxmsg::kTransactionLevel, "TransactionLevel", O::kDatabase, false},
    {nxmsg::kTableCreate, "TableCreate", O::kDatabase, true},
    {nxmsg::kTablePack, "TablePack", O::kDatabase, false},
    {nxmsg::kTableReindex, "TableReindex", O::kDatabase, false},
    {nxmsg::kTableRestructure, "TableRestructure", O::kDatabase, true},
    {nxmsg::kIndexAdd, "IndexAdd", O::kDatabase, true},
    {nxmsg::kIndexDrop, "IndexDrop", O::kDatabase, false},
    {nxmsg::kTableRename, "TableRename", O::kDatabase, false},
    {nxmsg::kDatabase0218, "Request0218", O::kDatabase, false},
    {nxmsg::kDatabase0219, "Request0219", O::kDatabase, false},
    {nxmsg::kDatabase021A, "Request021A", O::kDatabase, false},
    {nxmsg::kTableExists, "TableExists", O::kDatabase, false},
    {nxmsg::kTableGetDictionary, "TableGetDictionary", O::kDatabase, false},
    {nxmsg::kTableList, "TableList", O::kDatabase, false},
    {nxmsg::kDatabase0224, "Request0224", O::kDatabase, true},
    {nxmsg::kTableOpen, "TableOpen", O::kDatabase, false},
    {nxmsg::kStatementAlloc, "StatementAlloc", O::kDatabase, false},
    {nxmsg::kStatementExecDirect, "StatementExecDirect", O::kDatabase, true},
    {nxmsg::kDatabase0251, "Request0251", O::kDatabase, false},
    {nxmsg::kDatabase0252, "Request0252", O::kDatabase, false},
    {nxmsg::kDatabaseSetTimeout, "DatabaseSetTimeout", O::kDatabase, false},
    {nxmsg::kCursorSetToBegin, "CursorSetToBegin", O::kCursor, false},
    {nxmsg::kCursorSetToCursor, "CursorSetToCursor", O::kCursor, false},
    {nxmsg::kCursorSetToEnd, "CursorSetToEnd", O::kCursor, false},
    {nxmsg::kCursorLocate, "CursorLocate", O::kCursor, false},
    {nxmsg::kCursorGetBookmark, "CursorGetBookmark", O::kCursor, false},
    {nxmsg::kCursorCompareBookmarks, "CursorCompareBookmarks", O::kCursor, true},
    {nxmsg::kCursorSetToBookmark, "CursorSetToBookmark", O::kCursor, true},
    {nxmsg::kRecordGet, "RecordGet", O::kCursor, false},
    {nxmsg::kRecordGetNext, "RecordGetNext", O::kCursor, false},
    {nxmsg::kRecordGetPrior, "RecordGetPrior", O::kCursor, false},
    {nxmsg::kRecordInsert, "RecordInsert", O::kCursor, true},
    {nxmsg::kRecordModify, "RecordModify", O::kCursor, true},
    {nxmsg::kRecordDelete, "RecordDelete", O::kCursor, false},
    {nxmsg::kRecordIsLocked, "RecordIsLocked", O::kCursor, false},
    {nxmsg::kRecordRelLock, "RecordRelLock", O::kCursor, false},
    {nxmsg::kCursor0351, "Request0351", O::kCursor, false},
    {nxmsg::kCursor0352, "Request0352", O::kCursor, false},
    {nxmsg::kFilterAdd, "FilterAdd", O::kCursor, false},
    {nxmsg::kFilterSetTimeout, "FilterSetTimeout", O::kCursor, false},
    {nxmsg::kFilterActivate, "FilterActivate", O::kCursor, false},
    {nxmsg::kFilterDeactivate, "FilterDeactivate", O::kCursor, false},
    {nxmsg::kFilterRemove, "FilterRemove", O::kCursor, false},
    {nxmsg::kCursorSwitchToIndex, "CursorSwitchToIndex", O::kCursor, false},
    {nxmsg::kCursorGetIndexId, "CursorGetIndexId", O::kCursor, false},
    {nxmsg::kCursorSetToKey, "CursorSetToKey", O::kCursor, false},
    {nxmsg::kRecordGetForKey, "RecordGetForKey", O::kCursor, false},
    {nxmsg::kCursorResetRange, "CursorResetRange", O::kCursor, false},
    {nxmsg::kCursorSetRange, "CursorSetRange", O::kCursor, false},
    {nxmsg::kCursorCompareKeys, "CursorCompareKeys", O::kCursor, false},
    {nxmsg::kRecordGetBatch, "RecordGetBatch", O::kCursor, false},
    {nxmsg::kRecordInsertBatch, "RecordInsertBatch", O::kCursor, false},
    {nxmsg::kRecordCopy, "RecordCopy", O::kCursor, false},
    {nxmsg::kRecordDeleteAll, "RecordDeleteAll", O::kCursor, false},
    {nxmsg::kRecordGetBatchLimited, "RecordGetBatchLimited", O::kCursor, false},
    {nxmsg::kRecordCopyWithOption, "RecordCopyWithOption", O::kCursor, false},
    {nxmsg::kBlobCreate, "BlobCreate", O::kCursor, false},
    {nxmsg::kCursor0392, "Request0392", O::kCursor, false},
    {nxmsg::kCursor0393, "Request0393", O::kCursor, false},
    {nxmsg::kBlobRelease, "BlobRelease", O::kCursor, false},
    {nxmsg::kBlobRead, "BlobRead", O::kCursor, false},
    {nxmsg::kBlobWrite, "BlobWrite", O::kCursor, false},
    {nxmsg::kBlobTruncate, "BlobTruncate", O::kCursor, false},
    {nxmsg::kBlobGetLength, "BlobGetLength", O::kCursor, false},
    {nxmsg::kCursor03A1, "Request03A1", O::kCursor, false},
    {nxmsg::kCursor03A2, "Request03A2", O::kCursor, false},
    {nxmsg::kCursor03A3, "Request03A3", O::kCursor, false},
    {nxmsg::kCursor03A4, "Request03A4", O::kCursor, false},
    {nxmsg::kCursor03B1, "Request03B1", O::kCursor, false},
    {nxmsg::kCursor03B2, "Request03B2", O::kCursor, false},
    {nxmsg::kCursor03B3, "Request03B3", O::kCursor, false},
    {nxmsg::kCursorClone, "CursorClone", O::kCursor, false},
    {nxmsg::kCursorRecordCount, "CursorRecordCount", O::kCursor, false},
    {nxmsg::kCursorRecordCountAsync, "CursorRecordCountAsync", O::kCursor, false},
    {nxmsg::kCursor03D3, "Request03D3", O::kCursor, false},
    {nxmsg::kCursorSetTimeout, "CursorSetTimeout", O::kCursor, false},
    {nxmsg::kCursorClose, "CursorClose", O::kCursor, false},
    {nxmsg::kStatementPrepare, "StatementPrepare", O::kStatement, true},
    {nxmsg::kStatementExec, "StatementExec", O::kStatement, false},
    {nxmsg::kStatementSetParams, "StatementSetParams", O::kStatement, true},
    {nxmsg::kStatementSetTimeout, "StatementSetTimeout", O::kStatement, false},
    {nxmsg::kStatementClose, "StatementClose", O::kStatement, false},
    {nxmsg::kTaskGetStatus, "TaskGetStatus", O::kTask, false},
    {nxmsg::kTaskCancel, "TaskCancel", O::kTask, false},
    {nxmsg::kTaskClose, "TaskClose", O::kTask, false},
    {nxmsg::kDatabaseClose, "DatabaseClose", O::kDatabase, false},
};

}  // namespace

const RequestInfo* nxRequestTable(size_t* count) {
  *count = sizeof(kRequests) / sizeof(kRequests[0]);
  return kRequests;
}

const RequestInfo* nxFindRequest(uint32_t id) {
  for (const auto& e : kRequests)
    if (e.id == id)
      return &e;
  return nullptr;
}

std::string nxRequestName(uint32_t id) {
  if (const RequestInfo* e = nxFindRequest(id))
    return e->name;
  char buf[24];
  std::snprintf(buf, sizeof buf, "Request$%04X", id);
  return buf;
}

void ExpectEnd(const Reader& r, const char* what) {
  if (!r.empty())
    throw DecodeError(std::string(what) + ": " + std::to_string(r.remaining()) +
                      " bytes after the last field");
}

size_t CheckedLength(int64_t length, size_t remaining, const char* what) {
  if (length < 0)
    throw DecodeError(std::string(what) + " is negative: " + std::to_string(length));
  if (static_cast<uint64_t>(length) > remaining)
    throw DecodeError(std::string(what) + " " + std::to_string(length) + " exceeds the " +
                      std::to_string(remaining) + " bytes that remain");
  return static_cast<size_t>(length);
}

}  // namespace vantera
