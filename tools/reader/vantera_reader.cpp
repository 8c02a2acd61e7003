// vantera-reader: places a named finger on the simulated reader of a running workstation.
//
//   vantera-reader place NAME... [--to auto|capture|enrol] [--runtime-dir DIR] [--timeout S]
//   vantera-reader render NAME... [--placement N] --out FILE.png
//
// Exit codes: 0 a control took the placement; 1 no control armed, the placement rejected,
// no workstation running, or no answer in time; 2 wrong usage.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/runtime_dir.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/png_file.h"
#include "fingerprint/reader_protocol.h"

namespace vantera {
namespace {

constexpr const char* kUsage =
    "Usage: vantera-reader place NAME... [options]\n"
    "       vantera-reader render NAME... [--placement N] --out FILE.png\n"
    "Places the finger NAME (e.g. \"12345/oikea etusormi\"; several words are joined with\n"
    "blanks) on the simulated reader of the running workstation, or writes the image of\n"
    "one placement of it (placement N, default 0: the same image every time) as a PNG file.\n"
    "\n"
    "Options:\n"
    "  --to auto|capture|enrol  the control to complete (default auto: the enrolment\n"
    "                           control while it is armed, else the capture control)\n"
    "  --runtime-dir DIR        the workstation's runtime folder (default\n"
    "                           $XDG_RUNTIME_DIR/vantera or /tmp/vantera-<uid>)\n"
    "  --timeout SECONDS        how long to wait for the answer (default 30)\n"
    "  --placement N            render: the placement number (0 to 2^32-1)\n"
    "  --out FILE.png           render: the file to write\n"
    "  -h, --help               this text\n"
    "\n"
    "Exit codes: 0 placed; 1 no control armed, placement rejected, no workstation\n"
    "running or no answer in time; 2 wrong usage.\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "vantera-reader: %s\n%s", why.c_str(), kUsage);
  return 2;
}

int Failure(const std::string& why) {
  std::fprintf(stderr, "vantera-reader: %s\n", why.c_str());
  return 1;
}

// A socket closed when the holder goes.
class Socket {
 public:
  Socket() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0)
      close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Reads one reply line within the time limit; false with *why set otherwise.
bool ReadLine(int fd, int timeout_ms, std::string* line, std::string* why) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string buffer;
  while (buffer.find('\n') == std::string::npos) {
    if (buffer.size() > kMaxReaderLine) {
      *why = "the answer is too long";
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      *why = "no answer from the workstation in time";
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      continue;  // the deadline check above ends the wait
    char chunk[256];
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      *why = "the workstation closed the connection without an answer";
      return false;
    }
    buffer.append(chunk, static_cast<size_t>(n));
  }
  *line = buffer.substr(0, buffer.find('\n'));
  return true;
}

// Writes the image of one placement of the named finger.
int Render(const std::vector<std::string>& words, uint64_t placement, const std::string& out) {
  if (words.size() < 2)
    return Usage("render needs the finger's name");
  if (out.empty())
    return Usage("render needs --out FILE.png");
  std::string finger;
  for (size_t i = 1; i < words.size(); ++i)
    finger += (i > 1 ? " " : "") + words[i];
  if (finger.size() > kMaxFingerName)
    return Usage("the finger's name is longer than 255 bytes");
  std::string why;
  if (!WritePngFile(out, RenderFinger(finger, placement), &why))
    return Failure(why);
  return 0;
}

int Run(int argc, char** argv) {
  std::vector<std::string> words;
  std::string runtime_dir;
  ReaderTarget target = ReaderTarget::kAuto;
  int timeout_s = 30;
  uint64_t placement = 0;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--to" || arg == "--runtime-dir" || arg == "--timeout" || arg == "--placement" ||
        arg == "--out") {
      if (i + 1 >= argc)
        return Usage(arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "--out") {
        out = value;
      } else if (arg == "--placement") {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (end == value.c_str() || *end != '\0' || errno != 0 || value[0] == '-' ||
            n > 0xFFFFFFFFull)
          return Usage("--placement takes a whole number from 0 to 4294967295");
        placement = n;
      } else if (arg == "--to") {
        auto t = TargetFromName(value);
        if (!t)
          return Usage("unknown target " + value);
        target = *t;
      } else if (arg == "--runtime-dir") {
        runtime_dir = value;
      } else {
        char* end = nullptr;
        long s = std::strtol(value.c_str(), &end, 10);
        if (end == value.c_str() || *end != '\0' || s < 1 || s > 3600)
          return Usage("--timeout takes whole seconds from 1 to 3600");
        timeout_s = static_cast<int>(s);
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && words.empty())
      return Usage("unknown option " + arg);
    words.push_back(arg);
  }
  if (words.empty())
    return Usage("no command");
  if (words[0] == "render")
    return Render(words, placement, out);
  if (words[0] != "place")
    return Usage("unknown command " + words[0]);
  if (words.size() < 2)
    return Usage("place needs the finger's name");
  PlaceRequest request;
  request.target = target;
  for (size_t i = 1; i < words.size(); ++i)
    request.finger += (i > 1 ? " " : "") + words[i];
  std::string request_line;
  try {
    request_line = FormatPlaceRequest(request);
  } catch (const std::invalid_argument& e) {
    return Usage(e.what());
  }

  std::string path = ReaderSocketPath(RuntimeDir(runtime_dir));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path)
    return Failure("the socket path is too long: " + path);
  std::memcpy(addr.sun_path, path.data(), path.size());
  Socket sock;
  if (sock.fd() < 0)
    return Failure(std::string("cannot make a socket: ") + std::strerror(errno));
  if (connect(sock.fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    return Failure("no workstation is running (" + path + ": " + std::strerror(errno) + ")");
  if (send(sock.fd(), request_line.data(), request_line.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request_line.size()))
    return Failure(std::string("cannot send to the workstation: ") + std::strerror(errno));

  std::string line;
  std::string why;
  if (!ReadLine(sock.fd(), timeout_s * 1000, &line, &why))
    return Failure(why);
  std::optional<PlaceReply> reply = ParsePlaceReply(line);
  if (!reply)
    return Failure("the workstation answered: " + line);
  switch (reply->outcome) {
    case PlaceOutcome::kCaptured:
      std::printf("%s: the capture control took the finger\n", line.c_str());
      return 0;
    case PlaceOutcome::kEnrolled:
      std::printf("%s: placement %d of %d of the enrolment%s\n", line.c_str(), reply->done,
                  reply->needed, reply->done == reply->needed ? ", enrolment complete" : "");
      return 0;
    case PlaceOutcome::kRejected:
      return Failure(line + ": not the finger of the enrolment's first placement");
    case PlaceOutcome::kNoneArmed:
      break;
  }
  return Failure(line + ": no control of the workstation is waiting for a finger");
}

}  // namespace
}  // namespace vantera

int main(int argc, char** argv) {
  return vantera::Run(argc, argv);
}
