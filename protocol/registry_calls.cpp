#include "protocol/registry_calls.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include "core/win1252.h"
#include "protocol/gather_write.h"
#include "protocol/local_sockets.h"
#include "protocol/winsock_errors.h"

namespace vantera {

namespace {

// A wide string longer than this cannot be a name or a password.
constexpr uint32_t kMaxWideUnits = 4096;

void PutWide(Bytes* dst, const std::u16string& text) {
  PutFixed32(dst, static_cast<uint32_t>(text.size()));
  for (char16_t unit : text)
    PutFixed16(dst, static_cast<uint16_t>(unit));
}

std::u16string GetWide(Reader& r) {
  const uint32_t n = r.GetFixed32();
  if (n > kMaxWideUnits)
    throw DecodeError("wide string too long");
  if (r.remaining() < size_t{n} * 2)
    throw DecodeError("wide string cut off");
  std::u16string text;
  text.reserve(n);
  for (uint32_t i = 0; i < n; ++i)
    text.push_back(static_cast<char16_t>(r.GetFixed16()));
  return text;
}

void PutVariant(Bytes* dst, const std::optional<Bytes>& data) {
  if (!data) {
    PutFixed8(dst, 0);
    return;
  }
  PutFixed8(dst, 1);
  PutFixed32(dst, static_cast<uint32_t>(data->size()));
  dst->append(*data);
}

std::optional<Bytes> GetVariant(Reader& r) {
  switch (r.GetFixed8()) {
    case 0:
      return std::nullopt;
    case 1: {
      const uint32_t n = r.GetFixed32();
      return Bytes(r.GetBytes(n));
    }
    default:
      throw DecodeError("unknown variant kind");
  }
}

void PutTransport(Bytes* dst, const RegistryTransportRef& t) {
  PutFixed32(dst, t.id);
  PutFixed32(dst, t.key);
}

RegistryTransportRef GetTransport(Reader& r) {
  RegistryTransportRef t;
  t.id = r.GetFixed32();
  t.key = r.GetFixed32();
  return t;
}

void PutInt(Bytes* dst, int32_t v) {
  PutFixed32(dst, static_cast<uint32_t>(v));
}

void CheckEnd(const Reader& r) {
  if (!r.empty())
    throw DecodeError("bytes after the end of a call");
}

// UTF-8 of the BMP code points that Win1252ToUtf8 gives, one code point at a time.
std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(c);
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (text[i + 1] & 0x3F)));
      i += 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
      out.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
                                          (text[i + 2] & 0x3F)));
      i += 3;
    } else {
      out.push_back(u'?');
      i += 1;
    }
  }
  return out;
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    const auto c = static_cast<uint32_t>(u);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c < 0xE000) {
      out += '?';  // a surrogate has no Windows-1252 character
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

ERegistryCallError::ERegistryCallError(uint32_t status, const std::string& what)
    : std::runtime_error(what), status_(status) {}

Bytes EncodeRegistryCall(const RegistryCall& call) {
  Bytes b;
  PutFixed8(&b, static_cast<uint8_t>(call.method));
  switch (call.method) {
    case RegistryMethod::AttachTransport:
      PutFixed32(&b, call.callback);
      break;
    case RegistryMethod::EstablishConnection:
      PutTransport(&b, call.transport);
      PutWide(&b, call.userName);
      PutWide(&b, call.password);
      PutInt(&b, call.timeout);
      PutFixed32(&b, call.callback);
      PutInt(&b, call.clientVersion);
      break;
    case RegistryMethod::TerminateTransport:
      PutTransport(&b, call.transport);
      break;
    case RegistryMethod::Request:
    case RegistryMethod::Post:
      PutTransport(&b, call.transport);
      PutFixed32(&b, call.connection);
      PutInt(&b, call.messageId);
      PutInt(&b, call.timeout);
      PutVariant(&b, call.data);
      break;
    case RegistryMethod::TerminateConnection:
      PutTransport(&b, call.transport);
      PutFixed32(&b, call.connection);
      break;
  }
  return b;
}

RegistryCall DecodeRegistryCall(std::string_view body) {
  Reader r(body);
  RegistryCall call;
  const uint8_t method = r.GetFixed8();
  if (method < 1 || method > 6)
    throw DecodeError("unknown method " + std::to_string(method));
  call.method = static_cast<RegistryMethod>(method);
  switch (call.method) {
    case RegistryMethod::AttachTransport:
      call.callback = r.GetFixed32();
      break;
    case RegistryMethod::EstablishConnection:
      call.transport = GetTransport(r);
      call.userName = GetWide(r);
      call.password = GetWide(r);
      call.timeout = r.GetInt32();
      call.callback = r.GetFixed32();
      call.clientVersion = r.GetInt32();
      break;
    case RegistryMethod::TerminateTransport:
      call.transport = GetTransport(r);
      break;
    case RegistryMethod::Request:
    case RegistryMethod::Post:
      call.transport = GetTransport(r);
      call.connection = r.GetFixed32();
      call.messageId = r.GetInt32();
      call.timeout = r.GetInt32();
      call.data = GetVariant(r);
      break;
    case RegistryMethod::TerminateConnection:
      call.transport = GetTransport(r);
      call.connection = r.GetFixed32();
      break;
  }
  CheckEnd(r);
  return call;
}

Bytes EncodeRegistryReply(RegistryMethod method, const RegistryReply& reply) {
  Bytes b;
  PutFixed32(&b, reply.status);
  if (reply.status != 0)
    return b;
  switch (method) {
    case RegistryMethod::AttachTransport:
      PutTransport(&b, reply.transport);
      break;
    case RegistryMethod::EstablishConnection:
      PutInt(&b, reply.error);
      PutInt(&b, reply.serverVersion);
      PutFixed32(&b, reply.connection);
      break;
    case RegistryMethod::Request:
      PutInt(&b, reply.messageId);
      PutVariant(&b, reply.data);
      PutInt(&b, reply.error);
      break;
    case RegistryMethod::TerminateTransport:
    case RegistryMethod::Post:
    case RegistryMethod::TerminateConnection:
      break;
  }
  return b;
}

RegistryReply DecodeRegistryReply(RegistryMethod method, std::string_view body) {
  Reader r(body);
  RegistryReply reply;
  reply.status = r.GetFixed32();
  if (reply.status != 0) {
    CheckEnd(r);
    return reply;
  }
  switch (method) {
    case RegistryMethod::AttachTransport:
      reply.transport = GetTransport(r);
      break;
    case RegistryMethod::EstablishConnection:
      reply.error = r.GetInt32();
      reply.serverVersion = r.GetInt32();
      reply.connection = r.GetFixed32();
      break;
    case RegistryMethod::Request:
      reply.messageId = r.GetInt32();
      reply.data = GetVariant(r);
      reply.error = r.GetInt32();
      break;
    case RegistryMethod::TerminateTransport:
    case RegistryMethod::Post:
    case RegistryMethod::TerminateConnection:
      break;
  }
  CheckEnd(r);
  return reply;
}

std::string RegistryDisplayName(std::string_view serverName) {
  return std::string(kRegistryPrefix) + std::string(serverName);
}

std::optional<std::string> ServerNameOfDisplayName(std::string_view displayName) {
  if (displayName.size() <= kRegistryPrefix.size() ||
      displayName.compare(0, kRegistryPrefix.size(), kRegistryPrefix) != 0)
    return std::nullopt;
  return std::string(displayName.substr(kRegistryPrefix.size()));
}

std::string RegistryEntryPath(const std::string& runtimeDir, std::string_view serverName) {
  return runtimeDir + "/" + EncodeFileName(RegistryDisplayName(serverName));
}

std::optional<std::string> DisplayNameOfEntry(const std::string& fileName) {
  std::string name;
  if (fileName.empty() || fileName[0] != '#' || !DecodeFileName(fileName, name))
    return std::nullopt;
  return name;
}

std::u16string WideFromWin1252(std::string_view text) {
  return Utf16FromUtf8(Win1252ToUtf8(text));
}

std::string Win1252FromWide(std::u16string_view text) {
  return Utf8ToWin1252(Utf8FromUtf16(text));
}

void WriteRegistryMessage(int fd, std::string_view body, WaitClock::time_point deadline) {
  const bool bounded = deadline != kNoRegistryDeadline;
  char head[4];
  EncodeFixed32(head, static_cast<uint32_t>(body.size()));
  iovec parts[2];
  parts[0].iov_base = head;
  parts[0].iov_len = sizeof head;
  parts[1].iov_base = const_cast<char*>(body.data());
  parts[1].iov_len = body.size();
  msghdr msg{};
  msg.msg_iov = parts;
  msg.msg_iovlen = body.empty() ? 1 : 2;
  size_t left = sizeof head + body.size();
  while (left > 0) {
    ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL | (bounded ? MSG_DONTWAIT : 0));
    if (sent < 0) {
      if (errno == EINTR)
        continue;
      if (bounded && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitForSocket(fd, POLLOUT, deadline))
          RaiseSocketError(wsa::kETIMEDOUT);
        continue;
      }
      RaiseLastSocketError();
    }
    left -= static_cast<size_t>(sent);
    SkipSentBytes(msg, static_cast<size_t>(sent));
  }
}

namespace {

void ReadExact(int fd, char* dst, size_t n, WaitClock::time_point deadline) {
  const bool bounded = deadline != kNoRegistryDeadline;
  while (n > 0) {
    ssize_t got = ::recv(fd, dst, n, bounded ? MSG_DONTWAIT : 0);
    if (got > 0) {
      dst += got;
      n -= static_cast<size_t>(got);
      continue;
    }
    if (got == 0)
      RaiseSocketError(wsa::kEDISCON);
    if (bounded && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitForSocket(fd, POLLIN, deadline))
        RaiseSocketError(wsa::kETIMEDOUT);  // the server did not answer in time
      continue;
    }
    if (errno != EINTR)
      RaiseLastSocketError();
  }
}

}  // namespace

Bytes ReadRegistryMessage(int fd, uint32_t maxLength, WaitClock::time_point deadline) {
  char head[4];
  ReadExact(fd, head, sizeof head, deadline);
  const uint32_t length = DecodeFixed32(head);
  if (length > maxLength)
    RaiseSocketError(wsa::kEMSGSIZE);
  // The buffer grows with the bytes that arrive, not with the announced length.
  Bytes body;
  while (body.size() < length) {
    const size_t have = body.size();
    const size_t piece = std::min<size_t>(length - have, 64 * 1024);
    body.resize(have + piece);
    ReadExact(fd, body.data() + have, piece, deadline);
  }
  return body;
}

}  // namespace vantera
