// Pieces shared by the request and reply codecs of nxRequests.h (one file per request
// family). Not for use outside those files.
//
// FixedRecord<&T::a, &T::b, ...> is the whole description of a fixed-record payload: its
// fields in wire order. Encode writes them back to back, Decode reads them in the same order
// and refuses bytes left over, so both directions follow the one list. Field types map to
// wire fields as follows (all little-endian):
//
//   member type   wire field
//   int32_t       4 bytes
//   int64_t       8 bytes, low half first
//   uint16_t      2 bytes
//   uint8_t       1 byte
//   std::string   short string: 256 bytes, length byte, text (cut to 255), zero padding
//
// Two more kinds of entry state what is not a member of its own:
//   Fill8{v}       a byte the record always carries: written as v, not looked at when read
//   Rest<&T::m>{}  the last field: member m (Bytes) is the rest of the payload, as it is
//   Sized<&T::m>{} member m (Bytes) as an int32 byte count and that many bytes; a count
//                  that is negative or larger than what remains is refused
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/coding.h"
#include "protocol/nxRequests.h"
#include "protocol/tagged_stream.h"

namespace vantera::request_codec {

// Short-string fields are 256 bytes: a length byte and 255 characters.
inline constexpr size_t kShortString = 255;

inline void PutI32(Bytes* b, int32_t v) {
  PutFixed32(b, static_cast<uint32_t>(v));
}
inline void PutI64(Bytes* b, int64_t v) {
  PutFixed64(b, static_cast<uint64_t>(v));
}
inline void PutSS(Bytes* b, std::string_view s) {
  PutShortString(b, s, kShortString);
}

// A 32-bit length or count from the wire, as a size no larger than `limit`.
inline size_t WireLength(int32_t v, size_t limit, const char* what) {
  return CheckedLength(v, limit, what);
}

inline void ExpectTaggedEnd(const TaggedReader& r, const char* what) {
  if (!r.empty())
    throw TaggedStreamError(std::string(what) + ": " + std::to_string(r.remaining()) +
                            " bytes after the last value");
}

// Payload of a tagged-stream request with a leading id, as a writer helper.
struct Tagged {
  Bytes bytes;
  TaggedWriter w{&bytes};
};

// One wire field of a fixed record, chosen by the member's type.
inline void PutField(Bytes* b, int32_t v) {
  PutI32(b, v);
}
inline void PutField(Bytes* b, int64_t v) {
  PutI64(b, v);
}
inline void PutField(Bytes* b, uint16_t v) {
  PutFixed16(b, v);
}
inline void PutField(Bytes* b, uint8_t v) {
  PutFixed8(b, v);
}
inline void PutField(Bytes* b, const std::string& v) {
  PutSS(b, v);
}

template <class V>
V GetField(Reader& r) {
  if constexpr (std::is_same_v<V, int32_t>)
    return r.GetInt32();
  else if constexpr (std::is_same_v<V, int64_t>)
    return r.GetInt64();
  else if constexpr (std::is_same_v<V, uint16_t>)
    return r.GetFixed16();
  else if constexpr (std::is_same_v<V, uint8_t>)
    return r.GetFixed8();
  else {
    static_assert(std::is_same_v<V, std::string>, "no wire field for this member type");
    return r.GetShortString(kShortString);
  }
}

// A byte the record always carries.
struct Fill8 {
  uint8_t value;
};

// The rest of the payload, as the record's last field.
template <auto Member>
struct Rest {
  static constexpr auto member = Member;
};

// Bytes after their int32 count.
template <auto Member>
struct Sized {
  static constexpr auto member = Member;
};

template <class F>
struct IsRest : std::false_type {};
template <auto Member>
struct IsRest<Rest<Member>> : std::true_type {};
template <class F>
struct IsSized : std::false_type {};
template <auto Member>
struct IsSized<Sized<Member>> : std::true_type {};

template <auto Field, class T>
void EncodeEntry(Bytes* b, const T& value) {
  using F = std::remove_cvref_t<decltype(Field)>;
  if constexpr (std::is_same_v<F, Fill8>)
    PutFixed8(b, Field.value);
  else if constexpr (IsRest<F>::value)
    *b += value.*(F::member);
  else if constexpr (IsSized<F>::value) {
    PutI32(b, static_cast<int32_t>((value.*(F::member)).size()));
    *b += value.*(F::member);
  } else
    PutField(b, value.*Field);
}

template <auto Field, class T>
void DecodeEntry(Reader& r, T& value, const char* what) {
  using F = std::remove_cvref_t<decltype(Field)>;
  if constexpr (std::is_same_v<F, Fill8>)
    r.GetFixed8();
  else if constexpr (IsRest<F>::value)
    value.*(F::member) = Bytes(r.GetBytes(r.remaining()));
  else if constexpr (IsSized<F>::value) {
    // The count is read before what remains is taken.
    int32_t count = r.GetInt32();
    std::string length = std::string(what) + " length";
    value.*(F::member) = Bytes(r.GetBytes(WireLength(count, r.remaining(), length.c_str())));
  } else
    value.*Field = GetField<std::remove_cvref_t<decltype(value.*Field)>>(r);
}

template <auto... Fields>
struct FixedRecord {
  template <class T>
  static Bytes Encode(const T& value) {
    Bytes b;
    (EncodeEntry<Fields>(&b, value), ...);
    return b;
  }
  // `what` names the record in the errors about bytes left over and about a wrong count.
  template <class T>
  static T Decode(std::string_view payload, const char* what) {
    Reader r(payload);
    T value;
    (DecodeEntry<Fields>(r, value, what), ...);
    ExpectEnd(r, what);
    return value;
  }
};

}  // namespace vantera::request_codec
