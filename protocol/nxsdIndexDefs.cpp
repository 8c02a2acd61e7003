#include "protocol/nxsdIndexDefs.h"

#include "core/win1252.h"

namespace vantera {
namespace {

void Join(std::string* list, const std::string& name) {
  if (!list->empty())
    *list += ';';
  *list += name;
}

}  // namespace

std::vector<IndexDefinition> BuildIndexDefinitions(const TnxDataDictionary& dict) {
  std::vector<IndexDefinition> defs;
  for (int i = 0; i < dict.IndexCount(); ++i) {
    const TnxIndexDescriptor& ix = dict.Index(i);
    IndexDefinition def;
    def.name = ix.name;
    def.index_number = i;
    def.unique = !ix.allow_duplicates;
    def.primary = i == dict.DefaultIndex();
    if (const TnxCompKeyDescriptor* comp = ix.CompKey()) {
      bool all_ignore_case = !comp->key_fields.empty();
      bool all_descending = !comp->key_fields.empty();
      for (const auto& kf : comp->key_fields) {
        const std::string& field_name = dict.Field(kf->field_number).name;
        Join(&def.fields, field_name);
        if (!kf->ascending)
          Join(&def.descending_fields, field_name);
        if (kf->IgnoresCase())
          Join(&def.case_insensitive_fields, field_name);
        def.key_field_numbers.push_back(kf->field_number);
        def.key_ignore_case.push_back(kf->IgnoresCase());
        all_ignore_case = all_ignore_case && kf->IgnoresCase();
        all_descending = all_descending && !kf->ascending;
      }
      def.case_insensitive = all_ignore_case;
      def.descending = all_descending;
    }
    defs.push_back(std::move(def));
  }
  return defs;
}

int FindIndexForFields(const std::vector<IndexDefinition>& defs, std::string_view field_names) {
  std::string wanted = Win1252Upper(field_names);
  if (wanted.empty())
    return -1;
  for (size_t i = 0; i < defs.size(); ++i) {
    if (!defs[i].descending && Win1252Upper(defs[i].fields) == wanted)
      return static_cast<int>(i);
  }
  for (size_t i = 0; i < defs.size(); ++i) {
    if (defs[i].descending)
      continue;
    std::string fields = Win1252Upper(defs[i].fields);
    if (fields.size() > wanted.size() && fields.compare(0, wanted.size(), wanted) == 0 &&
        fields[wanted.size()] == ';')
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace vantera
