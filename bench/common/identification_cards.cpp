#include "bench/common/identification_cards.h"

#include "dbclient/nxdb.h"
#include "fingerprint/enrolment_merge.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"
#include "fingerprint/store.h"

namespace vantera::bench {
namespace {

constexpr int kDistinctFingers = 12;

Minutiae Extracted(const std::string& finger, uint64_t placement) {
  return ExtractMinutiae(RenderFinger(finger, placement)).minutiae;
}

IFPTemplate Enrolled(const std::string& finger, uint64_t seed) {
  std::vector<Minutiae> placements;
  for (uint64_t i = 0; i < 4; ++i)
    placements.push_back(Extracted(finger, i));
  TemplateData d;
  d.instance_id = seed;
  d.kind = TemplateKind::kEnrolment;
  d.placements = 4;
  d.minutiae = CombinePlacements(placements);
  return IFPTemplate(d);
}

}  // namespace

std::string CardKey(int card) {
  return "BENCH" + std::to_string(100 + card);
}

std::vector<Bytes> FillCards(TnxDatabase& database) {
  TnxTable t("BenchAsSormi");
  t.SetDatabase(&database);
  t.SetTableName("ASSORMI");
  t.Open();
  std::vector<Bytes> fingers;
  for (int f = 0; f < kDistinctFingers; ++f)
    fingers.push_back(
        Enrolled(std::to_string(1000 + f) + "/etusormi", static_cast<uint64_t>(f)).ExportBytes());
  std::vector<Bytes> stored;
  for (int card = 0; card < kCards; ++card) {
    for (int i = 0; i < kPerCard; ++i) {
      int customer = 1000 + card * kPerCard + i;
      const Bytes& templ = fingers[static_cast<size_t>(customer % kDistinctFingers)];
      stored.push_back(templ);
      t.Append();
      t.FieldByName("AsNo").SetAsString(StoredAsNo(std::to_string(customer)));
      t.FieldByName("KorttiLyh").SetAsString(CardKey(card));
      t.FieldByName("Maara").SetAsInteger(1);
      TMemoryStream s(templ);
      t.FieldByName("Jalki").LoadFromStream(s);
      t.Post();
    }
  }
  t.Close();
  return stored;
}

void AddCardMessages(CardMessageTable& messages) {
  messages.Open();
  for (int card = 0; card < kCards; ++card) {
    CardMessage m;
    m.KorttiLyh = CardKey(card);
    m.Tyyppi = "Crd";
    messages.Store(m);
  }
}

IFPTemplate StrangerCapture() {
  TemplateData d;
  d.instance_id = 99;
  d.minutiae = Extracted("stranger/peukalo", 99);
  return IFPTemplate(d);
}

}  // namespace vantera::bench
