#include "protocol/locate_filter.h"

#include "protocol/tagged_stream.h"

namespace vantera {

namespace {
constexpr std::string_view kLocateIdent = "Locate";
}

Bytes LocateFilter::Encode() const {
  Bytes out;
  TaggedWriter w(&out);
  w.WriteIdent(kLocateIdent);
  w.WriteBool(case_insensitive);
  w.WriteInt(partial_length);
  w.WriteInt(static_cast<int64_t>(field_names.size()));
  for (const auto& name : field_names)
    w.WriteString(name);
  w.WriteInt(static_cast<int64_t>(image.size()));
  w.WriteList(image);
  return out;
}

LocateFilter LocateFilter::Decode(std::string_view data) {
  TaggedReader r(data);
  LocateFilter f;
  r.ExpectIdent(kLocateIdent);
  f.case_insensitive = r.ReadBool();
  f.partial_length = r.ReadInt32();
  if (f.partial_length < 0)
    throw TaggedStreamError("locate filter: negative partial length");
  int32_t count = r.ReadInt32();
  if (count < 1 || count > kMaxLocateFields)
    throw TaggedStreamError("locate filter: field count out of range");
  for (int32_t i = 0; i < count; ++i) {
    std::string name = r.ReadString();
    if (name.empty())
      throw TaggedStreamError("locate filter: empty field name");
    f.field_names.push_back(std::move(name));
  }
  int32_t length = r.ReadInt32();
  if (length < 1 || length > kMaxLocateImage)
    throw TaggedStreamError("locate filter: image length out of range");
  std::string_view image = r.ReadList(static_cast<size_t>(length));
  f.image.assign(image.begin(), image.end());
  if (!r.empty())
    throw TaggedStreamError("locate filter: bytes after the image");
  return f;
}

}  // namespace vantera
