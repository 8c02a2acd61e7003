// Every request of the remote engine, one line each, in ascending id order (DatabaseClose,
// 0x21FF, comes last). The columns:
//   constant  its constant in nxmsg (nxRequests.h makes them from this list)
//   id        its message id
//   name      its name in logs
//   owner     the object that sends it, whose id leads the payload
//   encoding  its payload: Fixed (a fixed record) or Tagged (a tagged stream)
//   handler   the server's handler of it in server/engine/request_handlers.h, or
//             NotSupported for a request the server answers 12289 without reading it
// nxRequests.cpp makes the request table the client engine looks requests up in from this
// list, and server/engine/request_dispatch.cpp the server's handler table. Adding a request
// is its line here, its payload codec (protocol/requests_*.cpp) and its handler
// (server/engine/*_handlers.cpp).
#pragma once

// clang-format off
#define VANTERA_REQUESTS(X) \
  X(kAliasAdd, 0x0101, "AliasAdd", Session, Fixed, NotSupported) \
  X(kAliasDelete, 0x0102, "AliasDelete", Session, Fixed, NotSupported) \
  X(kAliasModify, 0x0103, "AliasModify", Session, Fixed, NotSupported) \
  X(kAliasList, 0x0104, "AliasList", Session, Fixed, AliasList) \
  X(kAliasGetPath, 0x0105, "AliasGetPath", Session, Fixed, AliasGetPath) \
  X(kSession0111, 0x0111, "Request0111", Session, Fixed, NotSupported) \
  X(kSession0112, 0x0112, "Request0112", Session, Fixed, NotSupported) \
  X(kDatabaseOpen, 0x0121, "DatabaseOpen", Session, Fixed, DatabaseOpen) \
  X(kSessionSetTimeout, 0x01F0, "SessionSetTimeout", Session, Fixed, SessionSetTimeout) \
  X(kTransactionStart, 0x0201, "TransactionStart", Database, Fixed, TransactionStart) \
  X(kTransactionStartWith, 0x0202, "TransactionStartWith", Database, Tagged, TransactionStartWith) \
  X(kTransactionCommit, 0x0203, "TransactionCommit", Database, Fixed, TransactionCommit) \
  X(kTransactionRollback, 0x0204, "TransactionRollback", Database, Fixed, TransactionRollback) \
  X(kDatabase0205, 0x0205, "Request0205", Database, Fixed, NotSupported) \
  X(kTransactionLevel, 0x0206, "TransactionLevel", Database, Fixed, TransactionLevel) \
  X(kTableCreate, 0x0211, "TableCreate", Database, Tagged, TableCreate) \
  X(kTablePack, 0x0212, "TablePack", Database, Fixed, NotSupported) \
  X(kTableReindex, 0x0213, "TableReindex", Database, Fixed, NotSupported) \
  X(kTableRestructure, 0x0214, "TableRestructure", Database, Tagged, NotSupported) \
  X(kIndexAdd, 0x0215, "IndexAdd", Database, Tagged, NotSupported) \
  X(kIndexDrop, 0x0216, "IndexDrop", Database, Fixed, NotSupported) \
  X(kTableRename, 0x0217, "TableRename", Database, Fixed, NotSupported) \
  X(kDatabase0218, 0x0218, "Request0218", Database, Fixed, NotSupported) \
  X(kDatabase0219, 0x0219, "Request0219", Database, Fixed, NotSupported) \
  X(kDatabase021A, 0x021A, "Request021A", Database, Fixed, NotSupported) \
  X(kTableExists, 0x0221, "TableExists", Database, Fixed, TableExists) \
  X(kTableGetDictionary, 0x0222, "TableGetDictionary", Database, Fixed, TableGetDictionary) \
  X(kTableList, 0x0223, "TableList", Database, Fixed, TableList) \
  X(kDatabase0224, 0x0224, "Request0224", Database, Tagged, NotSupported) \
  X(kTableOpen, 0x0231, "TableOpen", Database, Fixed, TableOpen) \
  X(kStatementAlloc, 0x0241, "StatementAlloc", Database, Fixed, NotSupported) \
  X(kStatementExecDirect, 0x0242, "StatementExecDirect", Database, Tagged, NotSupported) \
  X(kDatabase0251, 0x0251, "Request0251", Database, Fixed, NotSupported) \
  X(kDatabase0252, 0x0252, "Request0252", Database, Fixed, NotSupported) \
  X(kDatabaseSetTimeout, 0x02F0, "DatabaseSetTimeout", Database, Fixed, DatabaseSetTimeout) \
  X(kCursorSetToBegin, 0x0301, "CursorSetToBegin", Cursor, Fixed, CursorSetToBegin) \
  X(kCursorSetToCursor, 0x0302, "CursorSetToCursor", Cursor, Fixed, CursorSetToCursor) \
  X(kCursorSetToEnd, 0x0303, "CursorSetToEnd", Cursor, Fixed, CursorSetToEnd) \
  X(kCursorLocate, 0x0304, "CursorLocate", Cursor, Fixed, CursorLocate) \
  X(kCursorGetBookmark, 0x0311, "CursorGetBookmark", Cursor, Fixed, CursorGetBookmark) \
  X(kCursorCompareBookmarks, 0x0312, "CursorCompareBookmarks", Cursor, Tagged, CursorCompareBookmarks) \
  X(kCursorSetToBookmark, 0x0313, "CursorSetToBookmark", Cursor, Tagged, CursorSetToBookmark) \
  X(kRecordGet, 0x0321, "RecordGet", Cursor, Fixed, RecordGet) \
  X(kRecordGetNext, 0x0322, "RecordGetNext", Cursor, Fixed, RecordGetNext) \
  X(kRecordGetPrior, 0x0323, "RecordGetPrior", Cursor, Fixed, RecordGetPrior) \
  X(kRecordInsert, 0x0331, "RecordInsert", Cursor, Tagged, RecordInsert) \
  X(kRecordModify, 0x0332, "RecordModify", Cursor, Tagged, RecordModify) \
  X(kRecordDelete, 0x0333, "RecordDelete", Cursor, Fixed, RecordDelete) \
  X(kRecordIsLocked, 0x0341, "RecordIsLocked", Cursor, Fixed, RecordIsLocked) \
  X(kRecordRelLock, 0x0342, "RecordRelLock", Cursor, Fixed, RecordRelLock) \
  X(kCursor0351, 0x0351, "Request0351", Cursor, Fixed, NotSupported) \
  X(kCursor0352, 0x0352, "Request0352", Cursor, Fixed, NotSupported) \
  X(kFilterAdd, 0x0361, "FilterAdd", Cursor, Fixed, NotSupported) \
  X(kFilterSetTimeout, 0x0362, "FilterSetTimeout", Cursor, Fixed, NotSupported) \
  X(kFilterActivate, 0x0363, "FilterActivate", Cursor, Fixed, NotSupported) \
  X(kFilterDeactivate, 0x0364, "FilterDeactivate", Cursor, Fixed, NotSupported) \
  X(kFilterRemove, 0x0365, "FilterRemove", Cursor, Fixed, NotSupported) \
  X(kCursorSwitchToIndex, 0x0371, "CursorSwitchToIndex", Cursor, Fixed, CursorSwitchToIndex) \
  X(kCursorGetIndexId, 0x0372, "CursorGetIndexId", Cursor, Fixed, CursorGetIndexId) \
  X(kCursorSetToKey, 0x0373, "CursorSetToKey", Cursor, Fixed, NotSupported) \
  X(kRecordGetForKey, 0x0374, "RecordGetForKey", Cursor, Fixed, RecordGetForKey) \
  X(kCursorResetRange, 0x0375, "CursorResetRange", Cursor, Fixed, CursorResetRange) \
  X(kCursorSetRange, 0x0376, "CursorSetRange", Cursor, Fixed, CursorSetRange) \
  X(kCursorCompareKeys, 0x0377, "CursorCompareKeys", Cursor, Fixed, NotSupported) \
  X(kRecordGetBatch, 0x0381, "RecordGetBatch", Cursor, Fixed, NotSupported) \
  X(kRecordInsertBatch, 0x0382, "RecordInsertBatch", Cursor, Fixed, NotSupported) \
  X(kRecordCopy, 0x0383, "RecordCopy", Cursor, Fixed, NotSupported) \
  X(kRecordDeleteAll, 0x0384, "RecordDeleteAll", Cursor, Fixed, RecordDeleteAll) \
  X(kRecordGetBatchLimited, 0x0385, "RecordGetBatchLimited", Cursor, Fixed, NotSupported) \
  X(kRecordCopyWithOption, 0x0386, "RecordCopyWithOption", Cursor, Fixed, NotSupported) \
  X(kBlobCreate, 0x0391, "BlobCreate", Cursor, Fixed, BlobCreate) \
  X(kCursor0392, 0x0392, "Request0392", Cursor, Fixed, NotSupported) \
  X(kCursor0393, 0x0393, "Request0393", Cursor, Fixed, NotSupported) \
  X(kBlobRelease, 0x0394, "BlobRelease", Cursor, Fixed, BlobRelease) \
  X(kBlobRead, 0x0395, "BlobRead", Cursor, Fixed, BlobRead) \
  X(kBlobWrite, 0x0396, "BlobWrite", Cursor, Fixed, BlobWrite) \
  X(kBlobTruncate, 0x0397, "BlobTruncate", Cursor, Fixed, BlobTruncate) \
  X(kBlobGetLength, 0x0398, "BlobGetLength", Cursor, Fixed, BlobGetLength) \
  X(kCursor03A1, 0x03A1, "Request03A1", Cursor, Fixed, NotSupported) \
  X(kCursor03A2, 0x03A2, "Request03A2", Cursor, Fixed, NotSupported) \
  X(kCursor03A3, 0x03A3, "Request03A3", Cursor, Fixed, NotSupported) \
  X(kCursor03A4, 0x03A4, "Request03A4", Cursor, Fixed, NotSupported) \
  X(kCursor03B1, 0x03B1, "Request03B1", Cursor, Fixed, NotSupported) \
  X(kCursor03B2, 0x03B2, "Request03B2", Cursor, Fixed, NotSupported) \
  X(kCursor03B3, 0x03B3, "Request03B3", Cursor, Fixed, NotSupported) \
  X(kCursorClone, 0x03C1, "CursorClone", Cursor, Fixed, CursorClone) \
  X(kCursorRecordCount, 0x03D1, "CursorRecordCount", Cursor, Fixed, CursorRecordCount) \
  X(kCursorRecordCountAsync, 0x03D2, "CursorRecordCountAsync", Cursor, Fixed, NotSupported) \
  X(kCursor03D3, 0x03D3, "Request03D3", Cursor, Fixed, NotSupported) \
  X(kCursorSetTimeout, 0x03F0, "CursorSetTimeout", Cursor, Fixed, CursorSetTimeout) \
  X(kCursorClose, 0x03FF, "CursorClose", Cursor, Fixed, CursorClose) \
  X(kStatementPrepare, 0x0401, "StatementPrepare", Statement, Tagged, NotSupported) \
  X(kStatementExec, 0x0402, "StatementExec", Statement, Fixed, NotSupported) \
  X(kStatementSetParams, 0x0403, "StatementSetParams", Statement, Tagged, NotSupported) \
  X(kStatementSetTimeout, 0x04F0, "StatementSetTimeout", Statement, Fixed, NotSupported) \
  X(kStatementClose, 0x04FF, "StatementClose", Statement, Fixed, NotSupported) \
  X(kTaskGetStatus, 0x0501, "TaskGetStatus", Task, Fixed, NotSupported) \
  X(kTaskCancel, 0x0502, "TaskCancel", Task, Fixed, NotSupported) \
  X(kTaskClose, 0x05FF, "TaskClose", Task, Fixed, NotSupported) \
  X(kDatabaseClose, 0x21FF, "DatabaseClose", Database, Fixed, DatabaseClose) /* not 0x02FF */
// clang-format on
