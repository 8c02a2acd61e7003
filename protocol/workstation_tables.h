// Dictionaries of the workstation's three tables, for the server that creates them and for
// tests that need their record layout. The string fields are of `string_type`, which must
// be nxtShortString or nxtNullString (else std::invalid_argument).
//
//   ASIAKAS  AsNo 15 req, AsNimi 35 req, PostiNo 5, PostiToimiPaikka 25, KatuOsoite1 30,
//            KatuOsoite2 30; indexes ixAsNo (unique), ixAsNimi (ignores case)
//   KORTTI   KorttiNro 16 req, KorttiLyh 16 req, AsNo 15 req, YrNo 15, AikaLeima date-time;
//            indexes ixKorttiNro (unique), ixAsNo, ixKorttiLyh
//   ASSORMI  AsNo 15 req, KorttiLyh 16, Maara int32, Aika date-time, Jalki blob;
//            indexes ixKorttiLyh, ixAsNo
//
// Index 0 of each is the "Sequential Access Index"; the default index is index 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "protocol/nxsdDataDictionary.h"

namespace vantera {

TnxDataDictionary AsiakasDictionary(TnxFieldType string_type);
TnxDataDictionary KorttiDictionary(TnxFieldType string_type);
TnxDataDictionary AssormiDictionary(TnxFieldType string_type);

// "ASIAKAS", "KORTTI", "ASSORMI".
std::vector<std::string> WorkstationTableNames();
// The dictionary of a table by name (without regard to case); false for another name.
bool WorkstationTableDictionary(std::string_view table, TnxFieldType string_type,
                                TnxDataDictionary* out);

}  // namespace vantera
