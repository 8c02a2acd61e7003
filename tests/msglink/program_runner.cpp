#include "tests/msglink/program_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef VANTERA_MSGSERVER_PATH
#error "VANTERA_MSGSERVER_PATH must name the vantera-msgserver program"
#endif

namespace vantera::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args) {
  char tmpl[] = "/tmp/vantera-test-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  std::vector<std::string> argv_s{path};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
  pid_ = ::fork();
  if (pid_ < 0)
    throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char*> argv;
    for (auto& a : argv_s)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
}

RunningProgram::~RunningProgram() {
  if (running()) {
    if (Stop(5000) < 0) {
      ::kill(pid_, SIGKILL);
      Wait(5000);
    }
  }
  ::unlink((dir_ + "/stdout").c_str());
  ::unlink((dir_ + "/stderr").c_str());
  ::rmdir(dir_.c_str());
}

std::string RunningProgram::Stderr() const {
  return ReadFile(dir_ + "/stderr");
}
std::string RunningProgram::Stdout() const {
  return ReadFile(dir_ + "/stdout");
}

bool RunningProgram::StderrContains(const std::string& text) const {
  return Stderr().find(text) != std::string::npos;
}

bool RunningProgram::WaitForStderr(const std::string& text, int timeout_ms) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!StderrContains(text)) {
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int RunningProgram::Wait(int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!exited_) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= end)
      return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status_;
}

int RunningProgram::Stop(int timeout_ms) {
  if (!exited_)
    ::kill(pid_, SIGTERM);
  return Wait(timeout_ms);
}

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         int timeout_ms) {
  RunningProgram p(path, args);
  ProgramResult r;
  r.code = p.Wait(timeout_ms);
  r.out = p.Stdout();
  r.err = p.Stderr();
  return r;
}

MsgServerProcess::MsgServerProcess(uint16_t port, std::vector<std::string> extra)
    : program_(VANTERA_MSGSERVER_PATH, [&] {
        std::vector<std::string> args{"--listen", "127.0.0.1:" + std::to_string(port)};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
      }()) {
  const std::string marker = "listening on 127.0.0.1:";
  if (!program_.WaitForStderr(marker))
    throw std::runtime_error("vantera-msgserver did not start: " + program_.Stderr());
  std::string log = program_.Stderr();
  size_t pos = log.find(marker) + marker.size();
  port_ = static_cast<uint16_t>(std::strtoul(log.c_str() + pos, nullptr, 10));
}

uint16_t UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(fd);
  return ntohs(sa.sin_port);
}

}  // namespace vantera::test
