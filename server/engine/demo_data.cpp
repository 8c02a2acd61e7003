#include "server/engine/demo_data.h"

#include <span>

#include "server/engine/local_table.h"
#include "server/engine/record_text.h"

namespace vantera {

namespace {

// Windows-1252: \xE4 a-diaeresis, \xF6 o-diaeresis, \xC4 A-diaeresis, \xD6 O-diaeresis.
const char* const kLastNames[] = {"Virtanen",       "Korhonen",     "M\xE4kinen",
                                  "Nieminen",       "M\xE4kel\xE4", "H\xE4m\xE4l\xE4inen",
                                  "Laine",          "Heikkinen",    "Koskinen",
                                  "J\xE4rvinen",    "Lehtonen",     "\xD6hman",
                                  "Lindstr\xF6m",   "Ket\xF6l\xE4", "Sepp\xE4l\xE4",
                                  "\xC4ij\xE4l\xE4"};
const char* const kFirstNames[] = {"Aino",  "Eino",  "Helmi",    "V\xE4in\xF6", "Sanna", "J\xF6rg",
                                   "Liisa", "Matti", "P\xE4ivi", "Ville",       "Tyyne", "Ilkka"};
struct Town {
  const char* postal;
  const char* name;
  const char* street;
};
const Town kTowns[] = {{"00100", "HELSINKI", "Mannerheimintie"},
                       {"33100", "TAMPERE", "H\xE4meenkatu"},
                       {"20100", "TURKU", "Aurakatu"},
                       {"90100", "OULU", "Kirkkokatu"},
                       {"40100", "JYV\xC4SKYL\xC4", "Kauppakatu"},
                       {"96100", "ROVANIEMI", "Koskikatu"}};
constexpr int kCustomers = 36;

std::string StoredAsNo(int n) {
  std::string s = std::to_string(n);
  return std::string(15 - s.size(), ' ') + s;
}

void Put(const LocalTable& t, Bytes* rec, const char* field, const std::string& text) {
  auto m = CreateFieldMapper(t.dict(), t.dict().FieldNumber(field));
  FieldFromText(*m, std::span<char>(rec->data(), rec->size()), text);
}

}  // namespace

int FillDemoData(const std::string& folder) {
  return FillDemoData(EngineOptions(), folder);
}

int FillDemoData(const EngineOptions& storage, const std::string& folder) {
  LocalTable customers(storage, folder, "ASIAKAS", true);
  LocalTable cards(storage, folder, "KORTTI", true);
  if (customers.Count() > 0 || cards.Count() > 0)
    return 0;
  // One table after the other: each transaction holds the folder's write lock.
  customers.Begin();
  for (int i = 0; i < kCustomers; ++i) {
    const Town& town = kTowns[i % 6];
    Bytes c = customers.NewRecord();
    Put(customers, &c, "AsNo", StoredAsNo(1001 + i));
    Put(customers, &c, "AsNimi", std::string(kLastNames[i % 16]) + " " + kFirstNames[(i * 5) % 12]);
    Put(customers, &c, "PostiNo", i % 9 == 8 ? "" : town.postal);
    Put(customers, &c, "PostiToimiPaikka", town.name);
    Put(customers, &c, i % 7 == 6 ? "KatuOsoite2" : "KatuOsoite1",
        std::string(town.street) + " " + std::to_string(1 + (i * 7) % 40));
    customers.Insert(c);
  }
  customers.Commit();
  cards.Begin();
  for (int i = 0; i < kCustomers; ++i) {
    int no = 1001 + i;
    for (int k = 0; k < (i % 3 == 0 ? 2 : 1); ++k) {
      std::string serial = std::to_string(no);  // 1001 .. 1036
      std::string nro = "63900000" + serial + "000" + std::to_string(k + 1);
      std::string lyh = serial + "0" + std::to_string(k + 1);
      Bytes card = cards.NewRecord();
      Put(cards, &card, "KorttiNro", nro);
      Put(cards, &card, "KorttiLyh", lyh);
      Put(cards, &card, "AsNo", StoredAsNo(no));
      Put(cards, &card, "AikaLeima", "2026-01-02 08:00:00");
      cards.Insert(card);
    }
  }
  cards.Commit();
  return kCustomers;
}

}  // namespace vantera
