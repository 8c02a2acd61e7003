// The card messages' age limit of the settings file reaches identification.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <exception>
#include <string>

#include "app/command_line.h"
#include "app/fingerprint_link.h"
#include "app/workstation_wiring.h"
#include "tests/app/window_fixture.h"

namespace vantera {
namespace {

// XDG_RUNTIME_DIR pointed at a private folder while it lives, restored afterwards.
class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir() {
    if (const char* old = ::getenv("XDG_RUNTIME_DIR"))
      old_ = old;
    ::setenv("XDG_RUNTIME_DIR", dir_.Dir().c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    if (old_.empty())
      ::unsetenv("XDG_RUNTIME_DIR");
    else
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
  }

 private:
  testing::TempDir dir_;
  std::string old_;
};

int32_t MaxAgeAfterStartUp(const std::string& settings) {
  PrivateRuntimeDir runtime;
  testing::WindowFixture f(settings);
  TfrmVantera& w = f.window();
  w.SetParts(MakeWorkstationParts(w, CommandLine{}));
  auto* fp = dynamic_cast<WorkstationFingerprints*>(w.Parts().fingerprint.get());
  EXPECT_NE(fp, nullptr);
  if (!fp)
    return -1;
  // No database server here: start-up ends early, after identification was set up.
  try {
    w.FormCreate();
  } catch (const std::exception&) {
  }
  EXPECT_NE(fp->IdentificationTab(), nullptr);
  return fp->IdentificationTab() ? fp->IdentificationTab()->MessageMaxAge() : -1;
}

TEST(MessageAgeWiring, TheSettingReachesIdentification) {
  EXPECT_EQ(MaxAgeAfterStartUp("[MessageSrv]\nMessageMaxAge=120\n"), 120);
  EXPECT_EQ(MaxAgeAfterStartUp("[MessageSrv]\nMessageMaxAge=0\n"), 0);
  EXPECT_EQ(MaxAgeAfterStartUp(""), 1800);  // no settings file: the default
}

}  // namespace
}  // namespace vantera
