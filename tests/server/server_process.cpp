#include "tests/server/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vantera::testing {

namespace {

using Clock = std::chrono::steady_clock;

int BindSocket(int type, uint32_t address, uint16_t port) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

}  // namespace

std::string ServerProgram() {
  return KANTADB_SERVER_PATH;
}

ServerProcess::ServerProcess(std::vector<std::string> args) {
  char tmpl[] = "/tmp/kantadb-test-XXXXXX";
  if (!mkdtemp(tmpl))
    throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  log_path_ = dir_ + "/server.log";
  bool hasListen = false;
  for (const auto& a : args)
    hasListen = hasListen || a == "--listen";
  if (!hasListen) {
    args.push_back("--listen");
    args.push_back("127.0.0.1:0");
  }
  args.push_back("--runtime-dir");
  args.push_back(dir_ + "/run");

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::string program = ServerProgram();
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    int log = ::open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(log, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ::close(out[1]);

  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline && line.find('\n') == std::string::npos) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0)
      continue;
    char buf[256];
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0)
      break;
    line.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  size_t colon = line.rfind(':');
  if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
    Stop(2000);
    throw std::runtime_error("kantadb-server did not start: " + Log());
  }
  port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
}

ServerProcess::~ServerProcess() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

int ServerProcess::Stop(int limitMs) {
  if (pid_ <= 0)
    return -1;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  int status = 0;
  while (true) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_)
      break;
    if (Clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ServerProcess::Log() const {
  std::ifstream in(log_path_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool ServerProcess::WaitForLog(const std::string& text, int limitMs) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  while (Clock::now() < deadline) {
    if (Log().find(text) != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int ServerProcess::CountInLog(const std::string& text) const {
  std::istringstream in(Log());
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    n += line.find(text) != std::string::npos;
  return n;
}

uint16_t FreeDiscoveryPort() {
  for (int tries = 0; tries < 50; ++tries) {
    int udp = BindSocket(SOCK_DGRAM, INADDR_ANY, 0);
    if (udp < 0)
      continue;
    uint16_t port = LocalPort(udp);
    if (port >= 65534) {
      ::close(udp);
      continue;
    }
    int udp2 = BindSocket(SOCK_DGRAM, INADDR_ANY, static_cast<uint16_t>(port + 1));
    int tcp = BindSocket(SOCK_STREAM, INADDR_ANY, port);
    bool ok = udp2 >= 0 && tcp >= 0;
    for (int fd : {udp, udp2, tcp}) {
      if (fd >= 0)
        ::close(fd);
    }
    if (ok)
      return port;
  }
  throw std::runtime_error("no free port pair found");
}

uint16_t UnusedTcpPort() {
  int fd = BindSocket(SOCK_STREAM, INADDR_LOOPBACK, 0);
  uint16_t port = LocalPort(fd);
  ::close(fd);
  return port;
}

}  // namespace vantera::testing
