#include "protocol/workstation_tables.h"

#include <stdexcept>

#include "core/win1252.h"

namespace vantera {
namespace {

void CheckStringType(TnxFieldType t) {
  if (t != nxtShortString && t != nxtNullString)
    throw std::invalid_argument("workstation tables take nxtShortString or nxtNullString");
}

void Finish(TnxDataDictionary* d) {
  d->SetDefaultIndex(1);
  d->Check();
}

}  // namespace

TnxDataDictionary AsiakasDictionary(TnxFieldType s) {
  CheckStringType(s);
  TnxDataDictionary d;
  d.AddField("AsNo", s, 15, 0, true);
  d.AddField("AsNimi", s, 35, 0, true);
  d.AddField("PostiNo", s, 5);
  d.AddField("PostiToimiPaikka", s, 25);
  d.AddField("KatuOsoite1", s, 30);
  d.AddField("KatuOsoite2", s, 30);
  d.AddCompositeIndex("ixAsNo", {"AsNo"}, false);
  d.AddCompositeIndex("ixAsNimi", {"AsNimi"}, true, true);
  Finish(&d);
  return d;
}

TnxDataDictionary KorttiDictionary(TnxFieldType s) {
  CheckStringType(s);
  TnxDataDictionary d;
  d.AddField("KorttiNro", s, 16, 0, true);
  d.AddField("KorttiLyh", s, 16, 0, true);
  d.AddField("AsNo", s, 15, 0, true);
  d.AddField("YrNo", s, 15);
  d.AddField("AikaLeima", nxtDateTime);
  d.AddCompositeIndex("ixKorttiNro", {"KorttiNro"}, false);
  d.AddCompositeIndex("ixAsNo", {"AsNo"}, true);
  d.AddCompositeIndex("ixKorttiLyh", {"KorttiLyh"}, true);
  Finish(&d);
  return d;
}

TnxDataDictionary AssormiDictionary(TnxFieldType s) {
  CheckStringType(s);
  TnxDataDictionary d;
  d.AddField("AsNo", s, 15, 0, true);
  d.AddField("KorttiLyh", s, 16);
  d.AddField("Maara", nxtInt32);
  d.AddField("Aika", nxtDateTime);
  d.AddField("Jalki", nxtBlob);
  d.AddCompositeIndex("ixKorttiLyh", {"KorttiLyh"}, true);
  d.AddCompositeIndex("ixAsNo", {"AsNo"}, true);
  Finish(&d);
  return d;
}

std::vector<std::string> WorkstationTableNames() {
  return {"ASIAKAS", "KORTTI", "ASSORMI"};
}

bool WorkstationTableDictionary(std::string_view table, TnxFieldType string_type,
                                TnxDataDictionary* out) {
  std::string name = Win1252Upper(table);
  if (name == "ASIAKAS")
    *out = AsiakasDictionary(string_type);
  else if (name == "KORTTI")
    *out = KorttiDictionary(string_type);
  else if (name == "ASSORMI")
    *out = AssormiDictionary(string_type);
  else
    return false;
  return true;
}

}  // namespace vantera
