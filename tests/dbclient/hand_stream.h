// Dictionary streams written value by value in the test, independent of the dictionary's
// own writer, so that reading and writing are both checked against the format.
#pragma once

#include <string>
#include <vector>

#include "protocol/tagged_stream.h"

namespace vantera::hand {

struct HandField {
  std::string name;
  std::string type;
  int units;
  bool required;
  int offset;
  int length;
  std::string default_class;  // empty: none
  std::string default_bytes;  // for the constant default
};

struct HandKeyField {
  int field_number;
  bool ascending = true;
  bool text = false;
  bool ignore_case = false;
};

struct HandIndex {
  std::string name;
  bool composite;
  std::vector<HandKeyField> keys;
  bool allow_duplicates = true;
  int file_number = 0;
};

struct HandDictionary {
  int version = 2;
  std::string first_ident = "KantaDB";
  std::vector<HandField> fields;
  std::vector<HandIndex> indexes;
  std::vector<std::string> file_extensions = {"nx1"};
  int default_index = 0;
  int s = 0;
  int d = 0;
  bool heap_record = false;
};

inline void ItemPart(TaggedWriter& w) {
  w.WriteInt(1);
  w.WriteListBegin();
  w.WriteListEnd();
}

inline Bytes HandStream(const HandDictionary& h) {
  Bytes b;
  TaggedWriter w(&b);
  w.WriteIdent(h.first_ident);
  w.WriteInt(h.version);
  w.WriteRaw("NX!1");
  w.WriteString("");
  for (int i = 0; i < 3; ++i)
    w.WriteString("nx1xDefault");
  w.WriteIdent("RecordDescriptor");
  w.WriteBool(h.heap_record);
  if (h.heap_record) {
    w.WriteString("TnxHeapRecordDescriptor");
    ItemPart(w);
    w.WriteInt(1);
    w.WriteString("RecEngine");
    w.WriteInt(1);
    w.WriteBool(true);
    w.WriteString("TnxBaseHeapDescriptor");
    ItemPart(w);
    w.WriteInt(1);
    w.WriteString("Heap");
    w.WriteBool(true);
    w.WriteString("TnxBaseBlockHeapDescriptor");
    ItemPart(w);
    w.WriteInt(1);
    w.WriteString("BlockHeap");
  }
  w.WriteIdent("BlobDescriptor");
  w.WriteBool(false);
  w.WriteIdent("FileDescriptor");
  w.WriteInt(static_cast<int64_t>(h.file_extensions.size()));
  for (size_t i = 0; i < h.file_extensions.size(); ++i) {
    w.WriteString("TnxFileDescriptor");
    w.WriteString(h.file_extensions[i]);
    w.WriteInt(i == 0 ? 0 : 2);
    ItemPart(w);
    w.WriteInt(1);
    w.WriteString(i == 0 ? "Data/DataDict File" : "Blobs");
    w.WriteInt(4096);
    w.WriteInt(4);
    w.WriteInt(1);
  }
  w.WriteIdent("FieldDescriptor");
  w.WriteInt(static_cast<int64_t>(h.fields.size()));
  for (const HandField& f : h.fields) {
    w.WriteString("TnxFieldDescriptor");
    w.WriteString(f.name);
    w.WriteString("");
    w.WriteString(f.type);
    w.WriteInt(f.units);
    w.WriteInt(0);
    w.WriteBool(f.required);
    ItemPart(w);
    w.WriteInt(1);
    w.WriteInt(f.offset);
    w.WriteInt(f.length);
    w.WriteBool(!f.default_class.empty());
    if (!f.default_class.empty()) {
      w.WriteString(f.default_class);
      ItemPart(w);
      if (f.default_class == "TnxConstDefaultValueDescriptor") {
        w.WriteInt(1);
        w.WriteRaw(f.default_bytes);
      }
    }
    w.WriteBool(false);
  }
  w.WriteIdent("IndexDescriptor");
  w.WriteInt(static_cast<int64_t>(h.indexes.size()));
  for (const HandIndex& ix : h.indexes) {
    w.WriteString("TnxIndexDescriptor");
    w.WriteString(ix.composite ? "TnxCompKeyDescriptor" : "TnxRefKeyDescriptor");
    w.WriteString(ix.name);
    w.WriteInt(ix.file_number);
    ItemPart(w);
    w.WriteInt(1);
    w.WriteString("nx1xDefault");
    w.WriteString("");
    w.WriteBool(ix.allow_duplicates);
    ItemPart(w);  // key descriptor
    w.WriteInt(1);
    if (ix.composite) {
      w.WriteInt(static_cast<int64_t>(ix.keys.size()));
      for (const HandKeyField& k : ix.keys) {
        w.WriteString(k.text ? "TnxTextKeyFieldDescriptor" : "TnxKeyFieldDescriptor");
        w.WriteInt(k.field_number);
        ItemPart(w);
        w.WriteInt(1);
        w.WriteString("");
        w.WriteString("");
        w.WriteBool(k.ascending);
        if (k.text) {
          w.WriteInt(1);
          w.WriteBool(k.ignore_case);
        }
      }
    }
  }
  w.WriteInt(h.default_index);
  w.WriteInt(h.s);
  if (h.version == 2)
    w.WriteInt(h.d);
  w.WriteIdent("CustomDescriptor");
  w.WriteInt(0);
  w.WriteIdent("KantaDB");
  return b;
}

// Three fields of lengths 16, 4 and 8 at offsets 0, 16 and 20: a short string of 15
// units, a 32-bit integer and a date-time; one composite index over the first two.
inline HandDictionary ThreeFieldDictionary(int version) {
  HandDictionary h;
  h.version = version;
  h.fields = {{"AsNo", "nxtShortString", 15, true, 0, 16, "", ""},
              {"Maara", "nxtInt32", 10, false, 16, 4, "", ""},
              {"Aika", "nxtDateTime", 0, false, 20, 8, "", ""}};
  h.indexes = {{"Sequential Access Index", false, {}, false, 0},
               {"ixAsNoMaara", true, {{0, true, true, false}, {1}}, true, 0}};
  h.s = 28;
  h.d = 28;
  return h;
}

}  // namespace vantera::hand
