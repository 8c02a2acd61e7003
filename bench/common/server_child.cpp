#include "bench/common/server_child.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace vantera::bench {

ServerChild::ServerChild(const std::vector<std::string>& extra, DataFolder data) {
  char templ[] = "/tmp/vantera-bench-XXXXXX";
  if (!mkdtemp(templ))
    throw std::runtime_error("mkdtemp");
  dir_ = templ;
  try {
    Start(extra, data);
  } catch (...) {
    Stop();
    throw;
  }
}

void ServerChild::Start(const std::vector<std::string>& extra, DataFolder data) {
  std::vector<std::string> args{KANTADB_SERVER_PATH, "--listen",      "127.0.0.1:0",
                                "--no-discovery",    "--runtime-dir", RuntimeFolder()};
  if (data == DataFolder::Private)
    args.insert(args.end(), {"--data", dir_ + "/data"});
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execv(KANTADB_SERVER_PATH, argv.data());
    _exit(127);
  }
  ::close(out[1]);
  // The server's first line on standard output ends with the address it listens on.
  std::string line;
  char c;
  while (line.size() < 200 && ::read(out[0], &c, 1) == 1 && c != '\n')
    line.push_back(c);
  ::close(out[0]);
  size_t colon = line.rfind(':');
  if (colon == std::string::npos)
    throw std::runtime_error("kantadb-server did not start");
  port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
}

ServerChild::~ServerChild() {
  Stop();
}

void ServerChild::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vantera::bench
