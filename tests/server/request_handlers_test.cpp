// The server's handler table made from the request list: every request of the list has a
// handler, ids outside the list have none, and each request reaches its own handler.
#include <gtest/gtest.h>

#include <set>

#include "protocol/nxRequests.h"
#include "server/engine/request_handlers.h"
#include "tests/server/engine_test_support.h"

namespace vantera::testing {
namespace {

// The requests the server serves; every other request of the list answers 12289.
const std::set<uint16_t> kServed = {nxmsg::kAliasList,
                                    nxmsg::kAliasGetPath,
                                    nxmsg::kDatabaseOpen,
                                    nxmsg::kSessionSetTimeout,
                                    nxmsg::kTransactionStart,
                                    nxmsg::kTransactionStartWith,
                                    nxmsg::kTransactionCommit,
                                    nxmsg::kTransactionRollback,
                                    nxmsg::kTransactionLevel,
                                    nxmsg::kTableCreate,
                                    nxmsg::kTableExists,
                                    nxmsg::kTableGetDictionary,
                                    nxmsg::kTableList,
                                    nxmsg::kTableOpen,
                                    nxmsg::kDatabaseSetTimeout,
                                    nxmsg::kDatabaseClose,
                                    nxmsg::kCursorSetToBegin,
                                    nxmsg::kCursorSetToEnd,
                                    nxmsg::kCursorSetToCursor,
                                    nxmsg::kCursorGetBookmark,
                                    nxmsg::kCursorCompareBookmarks,
                                    nxmsg::kCursorSetToBookmark,
                                    nxmsg::kRecordGet,
                                    nxmsg::kRecordGetNext,
                                    nxmsg::kRecordGetPrior,
                                    nxmsg::kRecordInsert,
                                    nxmsg::kRecordModify,
                                    nxmsg::kRecordDelete,
                                    nxmsg::kRecordDeleteAll,
                                    nxmsg::kRecordIsLocked,
                                    nxmsg::kRecordRelLock,
                                    nxmsg::kCursorSwitchToIndex,
                                    nxmsg::kCursorGetIndexId,
                                    nxmsg::kRecordGetForKey,
                                    nxmsg::kCursorLocate,
                                    nxmsg::kCursorResetRange,
                                    nxmsg::kCursorSetRange,
                                    nxmsg::kBlobCreate,
                                    nxmsg::kBlobRelease,
                                    nxmsg::kBlobRead,
                                    nxmsg::kBlobWrite,
                                    nxmsg::kBlobTruncate,
                                    nxmsg::kBlobGetLength,
                                    nxmsg::kCursorClone,
                                    nxmsg::kCursorRecordCount,
                                    nxmsg::kCursorSetTimeout,
                                    nxmsg::kCursorClose};

TEST(RequestHandlers, EveryRequestOfTheListHasItsHandlerAndNoOtherIdHasOne) {
  size_t count = 0;
  const RequestInfo* table = nxRequestTable(&count);
  size_t served = 0;
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(table[i].name);
    RequestHandler h = FindRequestHandler(table[i].id);
    ASSERT_NE(h, nullptr);
    bool not_supported = h == &request_handlers::NotSupported;
    EXPECT_EQ(not_supported, kServed.count(table[i].id) == 0);
    served += not_supported ? 0 : 1;
  }
  EXPECT_EQ(served, kServed.size());
  for (uint32_t id : {0u, 0x0100u, 0x02FFu, 0x7777u, 0x121FFu})
    EXPECT_EQ(FindRequestHandler(id), nullptr) << id;
}

TEST(RequestHandlers, EachRequestReachesItsHandler) {
  TempFolder folder;
  ServerEngine engine(OptionsFor(folder.path()));
  engine.OpenSession(1);
  size_t count = 0;
  const RequestInfo* table = nxRequestTable(&count);
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(table[i].name);
    // An empty payload: AliasList takes it, every other served request refuses its shape,
    // and the rest answer 12289 without reading it, also when it is garbage.
    EngineReply r = engine.Dispatch(1, table[i].id, "");
    if (table[i].id == nxmsg::kAliasList)
      EXPECT_EQ(r.code, 0u);
    else if (kServed.count(table[i].id))
      EXPECT_EQ(r.code, 9986u);
    else
      EXPECT_EQ(r.code, 12289u);
    if (!kServed.count(table[i].id)) {
      EXPECT_EQ(engine.Dispatch(1, table[i].id, "\xff\xff").code, 12289u);
    }
  }
  EXPECT_EQ(engine.Dispatch(1, 0x02FF, "").code, 15522u);
  engine.CloseSession(1);
}

}  // namespace
}  // namespace vantera::testing
