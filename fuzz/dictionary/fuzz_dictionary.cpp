// Arbitrary bytes as a dictionary stream. A stream that is refused must end in the
// dictionary's error with the default dictionary in place; one that is accepted must write
// back into a stream that reads again to the same dictionary. Record images built from the
// accepted dictionary are then read field by field and compared by every index.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/nxsdDataDictionary.h"
#include "protocol/nxsdFieldMappers.h"
#include "protocol/nxsdIndexDefs.h"
#include "protocol/nxsdKeys.h"

using namespace vantera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  TnxDataDictionary dict;
  try {
    dict.ReadFromBytes(input);
  } catch (const EnxDataDictionaryException&) {
    if (dict.ToBytes() != TnxDataDictionary().ToBytes())
      std::abort();
    return 0;
  }

  Bytes written = dict.ToBytes();
  TnxDataDictionary again;
  again.ReadFromBytes(written);  // must not throw
  if (again.ToBytes() != written)
    std::abort();

  // A record image whose bytes come from the input: reading it never leaves the image.
  Bytes blank = dict.NewRecord(TimeStamp{1, 0});
  Bytes record = blank;
  for (size_t i = 0; i < record.size() && size > 0; ++i)
    record[i] = static_cast<char>(data[i % size]);
  for (int f = 0; f < dict.FieldCount(); ++f) {
    auto mapper = CreateFieldMapper(dict, f);
    if (!mapper)
      continue;
    try {
      FieldValue v = mapper->Read(record);
      if (dict.Field(f).type != nxtRecRev)
        mapper->Write(blank, v);
    } catch (const EnxDataDictionaryException&) {
      // A stored value that has no dataset form (a date-time that is not one).
    }
  }
  (void)BuildIndexDefinitions(dict);
  for (int i = 0; i < dict.IndexCount(); ++i) {
    KeyComparer keys(dict, i);
    (void)keys.CompareRecords(record, blank);
    (void)keys.CompareRecords(record, record, 1, 3);
    Bytes ka = keys.ExtractKey(record);
    Bytes kb = keys.ExtractKey(blank);
    int order = keys.CompareRecords(record, blank);
    if (keys.CompareKeys(ka, kb) != order)
      std::abort();
    int bytes_order = keys.SortableKey(record).compare(keys.SortableKey(blank));
    if ((bytes_order > 0) - (bytes_order < 0) != (order > 0) - (order < 0))
      std::abort();
  }
  return 0;
}
