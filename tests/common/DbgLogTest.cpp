#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "DbgLog.h"
#include "TestDir.h"

namespace {

const dbglog::Filter kProgram{false, ".log"};
const dbglog::Filter kEngine{true, ".log"};
const dbglog::Filter kPlayback{true, "Dbg.log"};

int Log(const dbglog::Filter& f, const std::string& exe, int toFile, int level, const char* fmt,
        ...) {
  va_list args;
  va_start(args, fmt);
  int r = dbglog::Write(f, exe, toFile, level, fmt, args);
  va_end(args);
  return r;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DbgLogTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VANTREL_DEBUG", "1", 1); }
  void TearDown() override { unsetenv("VANTREL_DEBUG"); }
  testutil::TempDir dir;
  std::string exe = dir.File("vantrel");
};

TEST_F(DbgLogTest, LevelFilterDiffersPerDeliverable) {
  testing::internal::CaptureStderr();
  Log(kProgram, exe, 1, 4, "engine level\n");  // program: only negative levels pass
  Log(kEngine, exe, 1, 2, "never\n");          // levels 0..3 never pass
  Log(kProgram, exe, 1, 0, "never\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(std::filesystem::exists(exe + ".log"));

  testing::internal::CaptureStderr();
  Log(kEngine, exe, 1, 4, "Could not create %s\n", "Reader");
  Log(kProgram, exe, 1, -1, "timeline %d\n", 7);
  Log(kEngine, exe, 0, 4, "debugger only\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Could not create Reader\n***Debug log file is created\ntimeline 7\ndebugger only\n");
  EXPECT_EQ(Slurp(exe + ".log"), "Could not create Reader\ntimeline 7\n");
}

TEST_F(DbgLogTest, PlaybackEngineWritesItsOwnFile) {
  Log(kPlayback, exe, 1, -1, "graph\n");
  EXPECT_EQ(Slurp(exe + "Dbg.log"), "graph\n");
  EXPECT_FALSE(std::filesystem::exists(exe + ".log"));
}

TEST_F(DbgLogTest, LongTextIsCutAndLongPathWritesNoFile) {
  std::string longText(3000, 'x');
  Log(kEngine, exe, 1, 4, "%s", longText.c_str());
  EXPECT_EQ(Slurp(exe + ".log").size(), static_cast<size_t>(dbglog::kTextLimit));

  std::string deep = dir.File(std::string(130, 'd'));
  testing::internal::CaptureStderr();
  Log(kEngine, deep, 1, 4, "text\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "text\n");  // debugger output still comes
  EXPECT_FALSE(std::filesystem::exists(deep + ".log"));
}

TEST_F(DbgLogTest, DebuggerOutputOnlyWhileAskedFor) {
  unsetenv("VANTREL_DEBUG");
  testing::internal::CaptureStderr();
  Log(kEngine, exe, 1, 4, "quiet\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Slurp(exe + ".log"), "quiet\n");
}

TEST_F(DbgLogTest, UnwritableFolderIsSilent) {
  std::string exeInMissing = dir.File("missing/vantrel");
  EXPECT_EQ(Log(kEngine, exeInMissing, 1, 4, "lost\n"), 0);
  EXPECT_FALSE(std::filesystem::exists(exeInMissing + ".log"));
}

// Each library keeps its own copy: a program's DbgLog must not replace the engine's.
TEST(DbgLogVisibility, LibrariesDoNotExportTheirCopy) {
  const std::string exe = dbglog::ExecutablePath();
  const std::string folder = exe.substr(0, exe.rfind('/'));
  void* lib = dlopen((folder + "/libqmvedit.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  EXPECT_EQ(dlsym(lib, "_Z6DbgLogiiPKcz"), nullptr);
  dlclose(lib);
}

}  // namespace
