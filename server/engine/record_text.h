// Field values as text, for the CSV import and export: Windows-1252 text as it is,
// integers in decimal, Booleans "1"/"0" (also "true"/"false" when read), floating values
// with a decimal point, dates "YYYY-MM-DD", times "HH:MM:SS", date-times
// "YYYY-MM-DD HH:MM:SS" (seconds optional when read). The empty text is a null field.
// Blob fields have no text form.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/nxsdFieldMappers.h"

namespace vantera {

// Throws std::invalid_argument naming what is wrong with the text.
void FieldFromText(const TnxBaseVclFieldMapper& mapper, std::span<char> record,
                   std::string_view text);
std::string FieldToText(const TnxBaseVclFieldMapper& mapper, std::string_view record);

bool HasTextForm(const TnxBaseVclFieldMapper& mapper);

}  // namespace vantera
