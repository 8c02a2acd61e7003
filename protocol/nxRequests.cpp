// The request table (id, name, owner, payload encoding) and the checks every decoder uses.
// The codecs themselves are in one file per request family: requests_session.cpp,
// requests_database.cpp, requests_transaction.cpp, requests_cursor.cpp, requests_blob.cpp,
// requests_shared.cpp (shapes shared by several ids) and replies.cpp.
#include "protocol/nxRequests.h"

#include <cstdio>

namespace vantera {

namespace {

#define VANTERA_REQUEST_INFO(constant, id, name, owner, encoding, handler) \
  {nxmsg::constant, name, RequestOwner::k##owner,                          \
   PayloadEncoding::k##encoding == PayloadEncoding::kTagged},
enum class PayloadEncoding { kFixed, kTagged };

constexpr RequestInfo kRequests[] = {VANTERA_REQUESTS(VANTERA_REQUEST_INFO)};
#undef VANTERA_REQUEST_INFO

}  // namespace

const RequestInfo* nxRequestTable(size_t* count) {
  *count = sizeof(kRequests) / sizeof(kRequests[0]);
  return kRequests;
}

const RequestInfo* nxFindRequest(uint32_t id) {
  for (const auto& e : kRequests)
    if (e.id == id)
      return &e;
  return nullptr;
}

std::string nxRequestName(uint32_t id) {
  if (const RequestInfo* e = nxFindRequest(id))
    return e->name;
  char buf[24];
  std::snprintf(buf, sizeof buf, "Request$%04X", id);
  return buf;
}

void ExpectEnd(const Reader& r, const char* what) {
  if (!r.empty())
    throw DecodeError(std::string(what) + ": " + std::to_string(r.remaining()) +
                      " bytes after the last field");
}

size_t CheckedLength(int64_t length, size_t remaining, const char* what) {
  if (length < 0)
    throw DecodeError(std::string(what) + " is negative: " + std::to_string(length));
  if (static_cast<uint64_t>(length) > remaining)
    throw DecodeError(std::string(what) + " " + std::to_string(length) + " exceeds the " +
                      std::to_string(remaining) + " bytes that remain");
  return static_cast<size_t>(length);
}

}  // namespace vantera
