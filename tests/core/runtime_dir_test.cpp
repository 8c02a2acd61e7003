#include "core/runtime_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantera {
namespace {

TEST(RuntimeDir, OverrideThenXdgThenTmp) {
  EXPECT_EQ(RuntimeDir("/x/y"), "/x/y");
  const char* old = getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/42", 1);
  EXPECT_EQ(RuntimeDir(), "/run/user/42/vantera");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(RuntimeDir(), "/tmp/vantera-" + std::to_string(getuid()));
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST(RuntimeDir, EnsureCreatesNestedPrivateFolder) {
  char tmpl[] = "/tmp/vantera-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = std::string(tmpl) + "/a/b";
  EnsureRuntimeDir(dir);
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EnsureRuntimeDir(dir);  // a second call is harmless
  std::string file = std::string(tmpl) + "/f";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_THROW(EnsureRuntimeDir(file), std::runtime_error);
  std::string cmd = "rm -rf " + std::string(tmpl);
  ASSERT_EQ(system(cmd.c_str()), 0);
}

}  // namespace
}  // namespace vantera
