// Every request of the remote engine, one line each, in ascending id order (DatabaseClose,
// 0x21FF, comes last): its constant in nxmsg, its message id, its name in logs, the object
// that sends it (whose id leads the payload) and its payload encoding (Fixed: a fixed
// record; Tagged: a tagged stream). nxRequests.h makes the constants of this list and
// nxRequests.cpp the request table that the client engine and the server's dispatch look
// requests up in; adding a request is a line here, its payload codec and its handler.
#pragma once

// clang-format off
#define VANTERA_REQUESTS(X) \
  X(kAliasAdd, 0x0101, "AliasAdd", Session, Fixed) \
  X(kAliasDelete, 0x0102, "AliasDelete", Session, Fixed) \
  X(kAliasModify, 0x0103, "AliasModify", Session, Fixed) \
  X(kAliasList, 0x0104, "AliasList", Session, Fixed) \
  X(kAliasGetPath, 0x0105, "AliasGetPath", Session, Fixed) \
  X(kSession0111, 0x0111, "Request0111", Session, Fixed) \
  X(kSession0112, 0x0112, "Request0112", Session, Fixed) \
  X(kDatabaseOpen, 0x0121, "DatabaseOpen", Session, Fixed) \
  X(kSessionSetTimeout, 0x01F0, "SessionSetTimeout", Session, Fixed) \
  X(kTransactionStart, 0x0201, "TransactionStart", Database, Fixed) \
  X(kTransactionStartWith, 0x0202, "TransactionStartWith", Database, Tagged) \
  X(kTransactionCommit, 0x0203, "TransactionCommit", Database, Fixed) \
  X(kTransactionRollback, 0x0204, "TransactionRollback", Database, Fixed) \
  X(kDatabase0205, 0x0205, "Request0205", Database, Fixed) \
  X(kTransactionLevel, 0x0206, "TransactionLevel", Database, Fixed) \
  X(kTableCreate, 0x0211, "TableCreate", Database, Tagged) \
  X(kTablePack, 0x0212, "TablePack", Database, Fixed) \
  X(kTableReindex, 0x0213, "TableReindex", Database, Fixed) \
  X(kTableRestructure, 0x0214, "TableRestructure", Database, Tagged) \
  X(kIndexAdd, 0x0215, "IndexAdd", Database, Tagged) \
  X(kIndexDrop, 0x0216, "IndexDrop", Database, Fixed) \
  X(kTableRename, 0x0217, "TableRename", Database, Fixed) \
  X(kDatabase0218, 0x0218, "Request0218", Database, Fixed) \
  X(kDatabase0219, 0x0219, "Request0219", Database, Fixed) \
  X(kDatabase021A, 0x021A, "Request021A", Database, Fixed) \
  X(kTableExists, 0x0221, "TableExists", Database, Fixed) \
  X(kTableGetDictionary, 0x0222, "TableGetDictionary", Database, Fixed) \
  X(kTableList, 0x0223, "TableList", Database, Fixed) \
  X(kDatabase0224, 0x0224, "Request0224", Database, Tagged) \
  X(kTableOpen, 0x0231, "TableOpen", Database, Fixed) \
  X(kStatementAlloc, 0x0241, "StatementAlloc", Database, Fixed) \
  X(kStatementExecDirect, 0x0242, "StatementExecDirect", Database, Tagged) \
  X(kDatabase0251, 0x0251, "Request0251", Database, Fixed) \
  X(kDatabase0252, 0x0252, "Request0252", Database, Fixed) \
  X(kDatabaseSetTimeout, 0x02F0, "DatabaseSetTimeout", Database, Fixed) \
  X(kCursorSetToBegin, 0x0301, "CursorSetToBegin", Cursor, Fixed) \
  X(kCursorSetToCursor, 0x0302, "CursorSetToCursor", Cursor, Fixed) \
  X(kCursorSetToEnd, 0x0303, "CursorSetToEnd", Cursor, Fixed) \
  X(kCursorLocate, 0x0304, "CursorLocate", Cursor, Fixed) \
  X(kCursorGetBookmark, 0x0311, "CursorGetBookmark", Cursor, Fixed) \
  X(kCursorCompareBookmarks, 0x0312, "CursorCompareBookmarks", Cursor, Tagged) \
  X(kCursorSetToBookmark, 0x0313, "CursorSetToBookmark", Cursor, Tagged) \
  X(kRecordGet, 0x0321, "RecordGet", Cursor, Fixed) \
  X(kRecordGetNext, 0x0322, "RecordGetNext", Cursor, Fixed) \
  X(kRecordGetPrior, 0x0323, "RecordGetPrior", Cursor, Fixed) \
  X(kRecordInsert, 0x0331, "RecordInsert", Cursor, Tagged) \
  X(kRecordModify, 0x0332, "RecordModify", Cursor, Tagged) \
  X(kRecordDelete, 0x0333, "RecordDelete", Cursor, Fixed) \
  X(kRecordIsLocked, 0x0341, "RecordIsLocked", Cursor, Fixed) \
  X(kRecordRelLock, 0x0342, "RecordRelLock", Cursor, Fixed) \
  X(kCursor0351, 0x0351, "Request0351", Cursor, Fixed) \
  X(kCursor0352, 0x0352, "Request0352", Cursor, Fixed) \
  X(kFilterAdd, 0x0361, "FilterAdd", Cursor, Fixed) \
  X(kFilterSetTimeout, 0x0362, "FilterSetTimeout", Cursor, Fixed) \
  X(kFilterActivate, 0x0363, "FilterActivate", Cursor, Fixed) \
  X(kFilterDeactivate, 0x0364, "FilterDeactivate", Cursor, Fixed) \
  X(kFilterRemove, 0x0365, "FilterRemove", Cursor, Fixed) \
  X(kCursorSwitchToIndex, 0x0371, "CursorSwitchToIndex", Cursor, Fixed) \
  X(kCursorGetIndexId, 0x0372, "CursorGetIndexId", Cursor, Fixed) \
  X(kCursorSetToKey, 0x0373, "CursorSetToKey", Cursor, Fixed) \
  X(kRecordGetForKey, 0x0374, "RecordGetForKey", Cursor, Fixed) \
  X(kCursorResetRange, 0x0375, "CursorResetRange", Cursor, Fixed) \
  X(kCursorSetRange, 0x0376, "CursorSetRange", Cursor, Fixed) \
  X(kCursorCompareKeys, 0x0377, "CursorCompareKeys", Cursor, Fixed) \
  X(kRecordGetBatch, 0x0381, "RecordGetBatch", Cursor, Fixed) \
  X(kRecordInsertBatch, 0x0382, "RecordInsertBatch", Cursor, Fixed) \
  X(kRecordCopy, 0x0383, "RecordCopy", Cursor, Fixed) \
  X(kRecordDeleteAll, 0x0384, "RecordDeleteAll", Cursor, Fixed) \
  X(kRecordGetBatchLimited, 0x0385, "RecordGetBatchLimited", Cursor, Fixed) \
  X(kRecordCopyWithOption, 0x0386, "RecordCopyWithOption", Cursor, Fixed) \
  X(kBlobCreate, 0x0391, "BlobCreate", Cursor, Fixed) \
  X(kCursor0392, 0x0392, "Request0392", Cursor, Fixed) \
  X(kCursor0393, 0x0393, "Request0393", Cursor, Fixed) \
  X(kBlobRelease, 0x0394, "BlobRelease", Cursor, Fixed) \
  X(kBlobRead, 0x0395, "BlobRead", Cursor, Fixed) \
  X(kBlobWrite, 0x0396, "BlobWrite", Cursor, Fixed) \
  X(kBlobTruncate, 0x0397, "BlobTruncate", Cursor, Fixed) \
  X(kBlobGetLength, 0x0398, "BlobGetLength", Cursor, Fixed) \
  X(kCursor03A1, 0x03A1, "Request03A1", Cursor, Fixed) \
  X(kCursor03A2, 0x03A2, "Request03A2", Cursor, Fixed) \
  X(kCursor03A3, 0x03A3, "Request03A3", Cursor, Fixed) \
  X(kCursor03A4, 0x03A4, "Request03A4", Cursor, Fixed) \
  X(kCursor03B1, 0x03B1, "Request03B1", Cursor, Fixed) \
  X(kCursor03B2, 0x03B2, "Request03B2", Cursor, Fixed) \
  X(kCursor03B3, 0x03B3, "Request03B3", Cursor, Fixed) \
  X(kCursorClone, 0x03C1, "CursorClone", Cursor, Fixed) \
  X(kCursorRecordCount, 0x03D1, "CursorRecordCount", Cursor, Fixed) \
  X(kCursorRecordCountAsync, 0x03D2, "CursorRecordCountAsync", Cursor, Fixed) \
  X(kCursor03D3, 0x03D3, "Request03D3", Cursor, Fixed) \
  X(kCursorSetTimeout, 0x03F0, "CursorSetTimeout", Cursor, Fixed) \
  X(kCursorClose, 0x03FF, "CursorClose", Cursor, Fixed) \
  X(kStatementPrepare, 0x0401, "StatementPrepare", Statement, Tagged) \
  X(kStatementExec, 0x0402, "StatementExec", Statement, Fixed) \
  X(kStatementSetParams, 0x0403, "StatementSetParams", Statement, Tagged) \
  X(kStatementSetTimeout, 0x04F0, "StatementSetTimeout", Statement, Fixed) \
  X(kStatementClose, 0x04FF, "StatementClose", Statement, Fixed) \
  X(kTaskGetStatus, 0x0501, "TaskGetStatus", Task, Fixed) \
  X(kTaskCancel, 0x0502, "TaskCancel", Task, Fixed) \
  X(kTaskClose, 0x05FF, "TaskClose", Task, Fixed) \
  X(kDatabaseClose, 0x21FF, "DatabaseClose", Database, Fixed) /* not 0x02FF */
// clang-format on
