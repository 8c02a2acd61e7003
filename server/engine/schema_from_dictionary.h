// Reads a dictionary stream and turns it into the flat TableSchema the server works with.
#pragma once

#include <string_view>

#include "protocol/nxsdDataDictionary.h"
#include "server/engine/table_schema.h"

namespace vantera {

// Throws the dictionary's own exceptions (15498 and others) for a bad stream, and
// EnxBaseException 10003 when the layout cannot be stored (fields outside the record,
// a record too long for the record requests).
TableSchema SchemaFromDictionaryStream(std::string_view stream);
TableSchema SchemaFromDictionary(const TnxDataDictionary& dict);

}  // namespace vantera
