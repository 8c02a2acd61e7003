#include "fingerprint/reader_socket.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>

#include <QElapsedTimer>
#include <QProcess>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"
#include "tests/fingerprint/qt_app.h"

namespace vantera {
namespace {

constexpr int kWaitMs = 15000;  // bound of every wait in these tests

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/vfp-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path = tmpl;
  }
  ~TempDir() { (void)std::system(("rm -rf " + path).c_str()); }
};

// The fingerprint side of a workstation: both controls, the reader and its socket.
struct Workstation {
  TFPGetTemplateX capture;
  TFPRegisterTemplateX enrol;
  SimulatedReader reader{capture, enrol, 4242};
  std::unique_ptr<ReaderSocket> socket;
  std::vector<IFPTemplate> captured;
  std::vector<IFPTemplate> enrolled;

  explicit Workstation(const std::string& dir) {
    TestApp();
    enrol.InitControl();
    capture.InitControl();
    QObject::connect(&capture, &FPControl::OnDone,
                     [this](const IFPTemplate& t) { captured.push_back(t); });
    QObject::connect(&enrol, &FPControl::OnDone,
                     [this](const IFPTemplate& t) { enrolled.push_back(t); });
    socket = std::make_unique<ReaderSocket>(reader, dir);
  }
};

struct ToolRun {
  int exit_code = -1;
  std::string output;
};

// Runs vantera-reader while this thread's event loop serves the reader socket.
ToolRun RunReader(const QStringList& args) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(VANTERA_READER_EXE, args);
  QElapsedTimer timer;
  timer.start();
  while (process.state() != QProcess::NotRunning && timer.elapsed() < kWaitMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ToolRun run;
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(kWaitMs);
    ADD_FAILURE() << "vantera-reader did not finish";
    return run;
  }
  run.output = process.readAll().toStdString();
  run.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return run;
}

ToolRun Place(const std::string& dir, const char* finger, const char* to = nullptr) {
  QStringList args{"place",         QString::fromUtf8(finger),
                   "--runtime-dir", QString::fromStdString(dir),
                   "--timeout",     "10"};
  if (to != nullptr)
    args << "--to" << to;
  return RunReader(args);
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

TEST(ReaderSocket, ReaderToolCompletesTheArmedControl) {
  TempDir dir;
  Workstation ws(dir.path);
  EXPECT_EQ(ws.socket->Path(), dir.path + "/reader.sock");

  ToolRun none = Place(dir.path, "12345/oikea etusormi");
  EXPECT_EQ(none.exit_code, 1) << none.output;
  EXPECT_TRUE(Contains(none.output, "none armed")) << none.output;

  ws.capture.Start();
  ToolRun ok = Place(dir.path, "12345/oikea etusormi");
  EXPECT_EQ(ok.exit_code, 0) << ok.output;
  EXPECT_TRUE(Contains(ok.output, "ok capture")) << ok.output;
  ASSERT_EQ(ws.captured.size(), 1u);
  ToolRun again = Place(dir.path, "12345/oikea etusormi");
  EXPECT_EQ(again.exit_code, 1) << again.output;
  EXPECT_EQ(ws.captured.size(), 1u);

  // An enrolment takes four placements; --to capture finds no armed capture meanwhile.
  ws.enrol.Start();
  for (int n = 1; n <= kEnrolmentPlacements; ++n) {
    ToolRun step = Place(dir.path, "12345/oikea etusormi");
    EXPECT_EQ(step.exit_code, 0) << step.output;
    std::string expected = "ok enrolment " + std::to_string(n) + "/4";
    EXPECT_TRUE(Contains(step.output, expected.c_str())) << step.output;
    if (n == 2) {
      ToolRun wrong = Place(dir.path, "12345/oikea etusormi", "capture");
      EXPECT_EQ(wrong.exit_code, 1);
      ToolRun other = Place(dir.path, "54321/vasen peukalo", "enrol");
      EXPECT_EQ(other.exit_code, 1);
      EXPECT_TRUE(Contains(other.output, "rejected enrolment 2/4")) << other.output;
    }
  }
  ASSERT_EQ(ws.enrolled.size(), 1u);
  EXPECT_NE(CoFPVerify().CompareTemplates(ws.enrolled[0], ws.captured[0]).verified, 0);

  // A name with a letter outside ASCII is the same finger as its Windows-1252 form.
  ws.capture.Start();
  ASSERT_EQ(Place(dir.path, "777/vasen etusormi \xC3\xA4").exit_code, 0);
  ASSERT_EQ(ws.captured.size(), 2u);
  // Another impression of the finger named in Windows-1252 matches; one of the name's
  // UTF-8 bytes taken as they are is another finger.
  TemplateData fresh;
  fresh.minutiae = ExtractMinutiae(RenderFinger("777/vasen etusormi \xE4", 12345)).minutiae;
  EXPECT_NE(CoFPVerify().CompareTemplates(ws.captured[1], IFPTemplate(fresh)).verified, 0);
  TemplateData utf8;
  utf8.minutiae = ExtractMinutiae(RenderFinger("777/vasen etusormi \xC3\xA4", 12345)).minutiae;
  EXPECT_EQ(CoFPVerify().CompareTemplates(ws.captured[1], IFPTemplate(utf8)).verified, 0);
}

TEST(ReaderSocket, SocketFileIsOwnedAndRemovedOnShutdown) {
  TempDir dir;
  std::string path = dir.path + "/reader.sock";
  {
    Workstation ws(dir.path);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    // A second workstation on the same folder is refused while the first one listens.
    TFPGetTemplateX c;
    TFPRegisterTemplateX e;
    SimulatedReader r(c, e, 1);
    EXPECT_THROW(ReaderSocket(r, dir.path), std::runtime_error);
  }
  struct stat st {};
  EXPECT_NE(stat(path.c_str(), &st), 0);
  ToolRun gone = Place(dir.path, "1/a");
  EXPECT_EQ(gone.exit_code, 1);
  EXPECT_TRUE(Contains(gone.output, "no workstation is running")) << gone.output;

  // A socket file left behind by a workstation that died is replaced.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(fd);  // bound, never listening: nothing answers
  {
    Workstation ws(dir.path);
    ws.capture.Start();
    EXPECT_EQ(Place(dir.path, "1/a").exit_code, 0);
  }
  // Something that is not a socket is left alone.
  std::ofstream(path) << "mine";
  TFPGetTemplateX c;
  TFPRegisterTemplateX e;
  SimulatedReader r(c, e, 1);
  EXPECT_THROW(ReaderSocket(r, dir.path), std::runtime_error);
  EXPECT_EQ(unlink(path.c_str()), 0);
}

// Sends raw bytes and reads what comes back until a line ends or the peer closes.
std::string Exchange(const std::string& path, const std::string& request) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  std::string got;
  QElapsedTimer timer;
  timer.start();
  while (got.find('\n') == std::string::npos && timer.elapsed() < kWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    char chunk[256];
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n == 0)
      break;
    if (n > 0)
      got.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return got;
}

TEST(ReaderSocket, AFailingHandlerIsAnsweredAndReportedAtTheWorkstation) {
  TempDir dir;
  Workstation ws(dir.path);
  QObject::connect(&ws.capture, &FPControl::OnDone, [](const IFPTemplate&) {
    throw std::runtime_error("Lost communication\nwith network server.");
  });
  std::vector<std::string> reported;
  bool answered_first = false;
  QObject::connect(ws.socket.get(), &ReaderSocket::Answered,
                   [&] { answered_first = reported.empty(); });
  QObject::connect(ws.socket.get(), &ReaderSocket::PlacementFailed,
                   [&](const QByteArray& error) { reported.push_back(error.toStdString()); });
  ws.capture.Start();
  // The client gets the error on one line; the workstation gets it whole, once.
  EXPECT_EQ(Exchange(ws.socket->Path(), "place capture 5/a\n"),
            "error Lost communication with network server.\n");
  EXPECT_EQ(reported, (std::vector<std::string>{"Lost communication\nwith network server."}));
  EXPECT_TRUE(answered_first);
  // A request the socket refuses is the client's matter, not reported.
  EXPECT_EQ(Exchange(ws.socket->Path(), "place sideways x\n"), "error unknown target\n");
  EXPECT_EQ(reported.size(), 1u);
}

TEST(ReaderSocket, BadRequestsAreAnsweredWithErrors) {
  TempDir dir;
  Workstation ws(dir.path);
  const std::string path = ws.socket->Path();
  EXPECT_EQ(Exchange(path, "hello\n"), "error unknown request\n");
  EXPECT_EQ(Exchange(path, "place sideways x\n"), "error unknown target\n");
  EXPECT_EQ(Exchange(path, std::string(kMaxReaderLine + 10, 'x')), "error line too long\n");
  ws.capture.Start();
  // Two requests in one write are answered in order.
  EXPECT_EQ(Exchange(path, "place capture 5/a\nplace capture 5/a\n"), "ok capture\nnone armed\n");
  EXPECT_EQ(ws.captured.size(), 1u);

  // Clients that connect and never ask cannot lock the reader out.
  std::vector<int> idle;
  for (size_t i = 0; i < kMaxReaderClients + 2; ++i) {
    // Non-blocking: the workstation accepts only while its event loop runs.
    idle.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    QElapsedTimer wait;
    wait.start();
    int rc = -1;
    while ((rc = connect(idle.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr)) != 0 &&
           errno == EAGAIN && wait.elapsed() < kWaitMs)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(rc, 0) << std::strerror(errno);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  ws.capture.Start();
  EXPECT_EQ(Place(dir.path, "5/a").exit_code, 0);
  EXPECT_LE(ws.socket->ClientCount(), kMaxReaderClients);
  char busy[32] = {};
  pollfd ready{idle.front(), POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, kWaitMs), 1);
  EXPECT_GT(recv(idle.front(), busy, sizeof busy - 1, MSG_DONTWAIT), 0);
  EXPECT_STREQ(busy, "error busy\n");
  for (int fd : idle)
    close(fd);

  QElapsedTimer timer;
  timer.start();
  while (ws.socket->ClientCount() > 0 && timer.elapsed() < kWaitMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(ws.socket->ClientCount(), 0u);
}

}  // namespace
}  // namespace vantera
