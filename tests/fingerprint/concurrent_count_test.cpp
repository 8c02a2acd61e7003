// Two workstations raising one customer's identification counter at the same time, each
// with its own connection to one real kantadb-server over TCP on loopback: every raise that
// returns must be in the counter, and a raise meeting the other's lock waits for it.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbclient/nxDbEngine.h"
#include "fingerprint/store.h"
#include "protocol/nxllException.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

// One workstation: its own transport chain, session and store on the server.
struct Workstation {
  explicit Workstation(uint16_t port) {
    eng.Values.ServerName = "Main";
    eng.Values.ServerAddress = "127.0.0.1";
    eng.Values.Port = port;
    eng.OpenConnection(1, "Tarvola");
    eng.nxSession.Open();
    store.SetDatabase(&eng.nxDatabase);
  }
  ~Workstation() { eng.CloseConnection(1); }

  TnxDbEng eng;
  FingerprintStore store;
};

int32_t MaaraOf(FingerprintStore& store, const std::string& stored_as_no) {
  store.TblAsSormi.Close();
  store.TblAsSormi.SetIndexFieldNames("AsNo");
  store.TblAsSormi.Open();
  int32_t maara = -1;
  if (store.TblAsSormi.FindByKey({stored_as_no}))
    maara = store.TblAsSormi.FieldByName("Maara").AsInteger();
  store.TblAsSormi.Close();
  return maara;
}

TEST(ConcurrentCount, TwoWorkstationsRaisingOneCounterLoseNoIncrement) {
  testing::TempFolder folder;
  testing::ServerProcess server({"--data", folder.Sub("data"), "--no-discovery"});
  const std::string as_no = StoredAsNo("1001");
  {
    Workstation enrol(server.Port());
    enrol.store.AppendFingerprint("1001", "6390000010010001", "template bytes");
    ASSERT_EQ(MaaraOf(enrol.store, as_no), 1);
  }

  constexpr int kRaises = 50;
  std::vector<std::unique_ptr<Workstation>> stations;
  for (int i = 0; i < 2; ++i)
    stations.push_back(std::make_unique<Workstation>(server.Port()));
  std::barrier start(2);
  std::atomic<int> raised{0};
  std::vector<std::string> errors(2);
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      FingerprintStore& store = stations[static_cast<size_t>(i)]->store;
      start.arrive_and_wait();
      for (int n = 0; n < kRaises; ++n) {
        try {
          // One identification pass's database work: open on KorttiLyh, count, close.
          store.OpenForIdentification();
          store.CountIdentification(as_no);
          store.CloseFingerprints();
          ++raised;
        } catch (const std::exception& e) {
          store.CloseFingerprints();
          errors[static_cast<size_t>(i)] += std::string(e.what()) + "\n";
        }
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  EXPECT_EQ(raised.load(), 2 * kRaises);
  EXPECT_EQ(MaaraOf(stations[0]->store, as_no), 1 + 2 * kRaises);  // exactly +100
  stations.clear();
  EXPECT_EQ(server.Stop(), 0);
}

TEST(ConcurrentCount, AnEditOfARecordEditedElsewhereFailsUntilThatEditEnds) {
  testing::TempFolder folder;
  testing::ServerProcess server({"--data", folder.Sub("data"), "--no-discovery"});
  Workstation a(server.Port());
  Workstation b(server.Port());
  a.store.AppendFingerprint("1001", "6390000010010001", "template bytes");
  TnxTable& ta = a.store.TblAsSormi;
  TnxTable& tb = b.store.TblAsSormi;
  for (TnxTable* t : {&ta, &tb}) {
    t->SetIndexFieldNames("AsNo");
    t->Open();
    ASSERT_TRUE(t->FindByKey({StoredAsNo("1001")}));
  }
  auto edit_error = [](TnxTable& t) -> std::string {
    try {
      t.Edit();
    } catch (const EnxDatabaseError& e) {
      return std::to_string(e.ErrorCode()) + " " + e.what();
    }
    return "";
  };

  // A edits; B's edit is refused and B stays browsing.
  ta.Edit();
  EXPECT_EQ(edit_error(tb),
            "10241 KantaDB: TblAsSormi: Record locked by another user. [$2801/10241]");
  EXPECT_EQ(tb.DataSetState(), TnxDataSetState::Browse);
  ta.FieldByName("Maara").SetAsInteger(7);
  ta.Post();
  // After A's post B may edit, and reads A's value.
  EXPECT_EQ(edit_error(tb), "");
  EXPECT_EQ(tb.FieldByName("Maara").AsInteger(), 7);
  EXPECT_EQ(edit_error(ta),
            "10241 KantaDB: TblAsSormi: Record locked by another user. [$2801/10241]");
  // After B's cancel A may edit again.
  tb.Cancel();
  EXPECT_EQ(edit_error(ta), "");
  ta.Cancel();
  ta.Close();
  tb.Close();
}

}  // namespace
}  // namespace vantera
