#include "server/engine/table_schema.h"

#include "core/win1252.h"

namespace vantera {

int32_t TableSchema::BookmarkSize(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= indexes.size())
    return 24;
  return indexes[static_cast<size_t>(index)].key_length + 24;
}

int32_t TableSchema::FindIndex(std::string_view name) const {
  std::string upper = Win1252Upper(name);
  for (size_t i = 0; i < indexes.size(); ++i)
    if (Win1252Upper(indexes[i].name) == upper)
      return static_cast<int32_t>(i);
  return -1;
}

bool TableSchema::IsNull(std::string_view image, size_t field) const {
  size_t byte = static_cast<size_t>(null_offset) + (field / 32) * 4 + (field % 32) / 8;
  if (byte >= image.size())
    return true;
  return (static_cast<unsigned char>(image[byte]) >> (field % 8)) & 1;
}

std::string_view TableSchema::FieldBytes(std::string_view image, size_t field) const {
  const FieldLayout& f = fields[field];
  return image.substr(static_cast<size_t>(f.offset), static_cast<size_t>(f.length));
}

}  // namespace vantera
