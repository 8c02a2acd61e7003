// Test helpers for the fingerprint workflows: the store on the server's database engine in
// process (real storage, key order, ranges and blobs, no sockets), a transport that can
// fail one kind of request, templates of named fingers, and a window view that records
// what the workflows do to it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "dbclient/nxdb.h"
#include "fingerprint/enrolment_merge.h"
#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/simulated_finger.h"
#include "fingerprint/store.h"
#include "fingerprint/workflow_view.h"
#include "tests/dbclient/engine_transport.h"
#include "tests/server/engine_test_support.h"

namespace vantera::testing {

// Answers requests with message id `fail_id` with error `fail_code` while fail_id != 0.
// A request with message id `lose_reply_id` is carried out by the server, but its reply is
// lost on the way back: the client sees 11276, as when the server dies at its commit.
class FaultyEngineTransport : public EngineTransport {
 public:
  using EngineTransport::EngineTransport;
  std::atomic<uint32_t> fail_id{0};
  uint32_t fail_code = 8706;
  std::atomic<uint32_t> lose_reply_id{0};
  std::atomic<int> replies_lost{0};

  void Request(uint32_t a, uint32_t session_id, uint32_t message_id, const char* data,
               uint32_t length, uint32_t t, TnxReplyCallback callback, void* cookie) override {
    if (fail_id != 0 && message_id == fail_id) {
      callback(message_id, fail_code, nullptr, 0, cookie);
      return;
    }
    if (lose_reply_id != 0 && message_id == lose_reply_id) {
      EngineTransport::Request(a, session_id, message_id, data, length, t, DropReply, nullptr);
      ++replies_lost;
      callback(message_id, 11276, nullptr, 0, cookie);
      return;
    }
    EngineTransport::Request(a, session_id, message_id, data, length, t, callback, cookie);
  }

 private:
  static void DropReply(uint32_t, uint32_t, const char*, uint32_t, void*) {}
};

class StoreOnEngine : public ::testing::Test {
 protected:
  TempFolder folder;
  FolderReport prepared = PrepareDataFolder(folder.path(), nxtShortString);
  ServerEngine server{OptionsFor(folder.path())};
  FaultyEngineTransport transport{server};
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};
  FingerprintStore store;

  StoreOnEngine() {
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Tarvola");
    store.SetDatabase(&database);
    store.SetClock([] { return 46000.5; });  // a fixed noon
  }

  // A table cursor of the test's own, opened on `index`.
  std::unique_ptr<TnxTable> Table(const char* table, const char* index) {
    auto t = std::make_unique<TnxTable>(std::string("Test") + table);
    t->SetDatabase(&database);
    t->SetTableName(table);
    t->SetIndexFieldNames(index);
    t->Open();
    return t;
  }

  void AddCustomer(const std::string& as_no, const std::string& name, const std::string& posti_no,
                   const std::string& town, const std::string& street1,
                   const std::string& street2) {
    auto t = Table("ASIAKAS", "AsNo");
    t->Append();
    t->FieldByName("AsNo").SetAsString(StoredAsNo(as_no));
    t->FieldByName("AsNimi").SetAsString(name);
    t->FieldByName("PostiNo").SetAsString(posti_no);
    t->FieldByName("PostiToimiPaikka").SetAsString(town);
    t->FieldByName("KatuOsoite1").SetAsString(street1);
    t->FieldByName("KatuOsoite2").SetAsString(street2);
    t->Post();
  }

  void AddCard(const std::string& nro, const std::string& lyh, const std::string& as_no) {
    auto t = Table("KORTTI", "KorttiNro");
    t->Append();
    t->FieldByName("KorttiNro").SetAsString(nro);
    t->FieldByName("KorttiLyh").SetAsString(lyh);
    t->FieldByName("AsNo").SetAsString(StoredAsNo(as_no));
    t->Post();
  }

  struct Row {
    std::string as_no, kortti;
    int32_t maara;
    double aika;
    Bytes jalki;
    bool jalki_null;
  };
  // Every ASSORMI record in the order of `index`.
  std::vector<Row> Fingerprints(const char* index = "KorttiLyh") {
    auto t = Table("ASSORMI", index);
    std::vector<Row> rows;
    for (int guard = 0; !t->Eof() && guard < 2000; ++guard, t->Next()) {
      Row r{t->FieldByName("AsNo").AsString(),
            t->FieldByName("KorttiLyh").AsString(),
            t->FieldByName("Maara").AsInteger(),
            t->FieldByName("Aika").AsDateTime(),
            {},
            t->FieldByName("Jalki").IsNull()};
      TMemoryStream s;
      t->FieldByName("Jalki").SaveToStream(s);
      r.jalki = s.Data();
      rows.push_back(r);
    }
    return rows;
  }
};

// A fresh placement of the named finger as a capture template.
inline IFPTemplate Placement(const std::string& finger, uint64_t seed) {
  FingerRandom rng(seed);
  TemplateData d;
  d.instance_id = seed;
  d.minutiae = PlaceFinger(PatternOfFinger(finger), rng);
  return IFPTemplate(d);
}

// An enrolment of the named finger: four placements combined.
inline IFPTemplate Enrolled(const std::string& finger, uint64_t seed) {
  FingerRandom rng(seed);
  std::vector<Minutiae> placements;
  for (int i = 0; i < 4; ++i)
    placements.push_back(PlaceFinger(PatternOfFinger(finger), rng));
  TemplateData d;
  d.instance_id = seed;
  d.kind = TemplateKind::kEnrolment;
  d.placements = 4;
  d.minutiae = CombinePlacements(placements);
  return IFPTemplate(d);
}

// Records every call, in order, as one text each ("text EdtAsNo=12", "on TimerGetTimeOut",
// "off BBtnTalleta", "start FPGetTemplateX", "log* Verify=...", "log sHaku=K1").
class RecordingView : public WorkflowView {
 public:
  std::vector<std::string> calls;
  std::map<std::string, std::string, std::less<>> texts;
  std::map<std::string, bool, std::less<>> enabled;
  std::vector<std::string> memo;

  void SetText(std::string_view field, const std::string& text) override {
    calls.push_back("text " + std::string(field) + "=" + text);
    texts[std::string(field)] = text;
  }
  std::string Text(std::string_view field) const override {
    auto it = texts.find(field);
    return it == texts.end() ? std::string() : it->second;
  }
  void SetEnabled(std::string_view control, bool on) override {
    calls.push_back((on ? "on " : "off ") + std::string(control));
    enabled[std::string(control)] = on;
  }
  void AddLine(std::string_view list, const std::string& line) override {
    calls.push_back("add " + std::string(list) + " " + line);
    memo.push_back(line);
  }
  void ClearLines(std::string_view list) override {
    calls.push_back("clear " + std::string(list));
    memo.clear();
  }
  void StartControl(std::string_view control) override {
    calls.push_back("start " + std::string(control));
  }
  void StopControl(std::string_view control) override {
    calls.push_back("stop " + std::string(control));
  }
  void WriteLog(const std::string& text, bool always) override {
    calls.push_back((always ? "log* " : "log ") + text);
  }

  // The calls whose text begins with `prefix`.
  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.compare(0, prefix.size(), prefix) == 0)
        out.push_back(c);
    return out;
  }
};

}  // namespace vantera::testing
