// Sections kept per clip: what is kept comes back for the same clip, a changed clip gets nothing,
// a damaged or foreign file is ignored, and the folder holds no half-written files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "SectionStore.h"
#include "TestDir.h"

namespace fs = std::filesystem;

namespace {

MarksState Sample() {
  MarksState s;
  s.sections = {{12480, 2520, 2}, {1000, 500, 1}, {30000, 9999, 3}};
  s.beginSet = true;
  s.begin = 50000;
  s.splitState = 1;
  s.split1 = 31000;
  return s;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class SectionStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clip = dir.File("trip.wmv");
    WriteFile(clip, std::string(4096, 'x'));
  }
  testutil::TempDir dir;
  std::string clip;
  CSectionStore store{(dir.Path() / "state" / "vantrel").string()};
};

}  // namespace

TEST_F(SectionStoreTest, TheSameClipGetsItsMarksBackAChangedOneNothing) {
  ASSERT_TRUE(store.Save(clip, Sample()));
  // Atomic: the folder holds the file and no temporary one.
  EXPECT_EQ(testutil::CountFiles(store.Folder()), 1);
  StoreLoad back = store.Load(clip, 60000);
  ASSERT_TRUE(back.state);
  EXPECT_EQ(*back.state, Sample());
  EXPECT_TRUE(back.problem.empty());
  // The same clip by another spelling of its path.
  EXPECT_TRUE(store.Load((dir.Path() / "." / "trip.wmv").string(), 60000).state);

  // Another clip of the same size and time has nothing kept.
  const std::string other = dir.File("other.wmv");
  fs::copy_file(clip, other);
  EXPECT_FALSE(store.Load(other, 60000).state);

  // The clip's time changes (touch): nothing comes back; its size changes: neither.
  fs::last_write_time(clip, fs::last_write_time(clip) + std::chrono::seconds(1));
  back = store.Load(clip, 60000);
  EXPECT_FALSE(back.state);
  EXPECT_EQ(back.problem, "the clip changed since");
  ASSERT_TRUE(store.Save(clip, Sample()));
  WriteFile(clip, std::string(4097, 'x'));
  EXPECT_FALSE(store.Load(clip, 60000).state);

  // A clip shorter than the kept sections (the same file read as another length) gets nothing.
  ASSERT_TRUE(store.Save(clip, Sample()));
  EXPECT_FALSE(store.Load(clip, 39000).state);

  // Nothing left to keep: the file goes.
  ASSERT_TRUE(store.Save(clip, MarksState{}));
  EXPECT_EQ(testutil::CountFiles(store.Folder()), 0);
  EXPECT_FALSE(store.Load(clip, 60000).state);
}

TEST_F(SectionStoreTest, DamagedOrForeignFilesAreIgnored) {
  ASSERT_TRUE(store.Save(clip, Sample()));
  const auto key = CSectionStore::KeyOf(clip);
  ASSERT_TRUE(key);
  const std::string file = store.FileFor(key->path);
  const std::string good = CSectionStore::Format(*key, Sample());
  const auto withLine = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  ClipKey otherKey = *key;
  otherKey.path += ".old";
  const std::string damaged[] = {
      "",
      "GIF89a\x01\x02\x03",
      "vantrel-sections 2\n" + good.substr(good.find('\n') + 1),
      good.substr(0, good.size() - 4),  // cut short before its end line
      good + "section 1 2 3\n",
      withLine("section 1000 500 1", "section 1000 -500 1"),
      withLine("section 1000 500 1", "section 1000 500 0"),
      withLine("section 1000 500 1", "section 12000 1000 1"),  // overlaps the next one
      withLine("section 1000 500 1", "section 1000 99999999999999999999 1"),
      withLine("section 1000 500 1", "section 1000 5x0 1"),
      withLine("split 1 31000 0", "split 7 31000 0"),
      withLine("begin 1 50000", "begin 1 70000"),
      CSectionStore::Format(otherKey, Sample()),
  };
  for (const std::string& text : damaged) {
    WriteFile(file, text);
    // The debug log (standard error while VANTREL_DEBUG is set) says why.
    setenv("VANTREL_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    const StoreLoad r = store.Load(clip, 60000);
    const std::string log = testing::internal::GetCapturedStderr();
    unsetenv("VANTREL_DEBUG");
    EXPECT_FALSE(r.state) << text;
    EXPECT_FALSE(r.problem.empty()) << text;
    EXPECT_NE(log.find("Kept sections ignored: " + file + ": " + r.problem), std::string::npos)
        << log;
  }
  // Every cut of a good file is refused or read whole, never half.
  for (size_t n = 0; n < good.size(); ++n) {
    WriteFile(file, good.substr(0, n));
    const StoreLoad r = store.Load(clip, 60000);
    if (r.state) {
      EXPECT_EQ(*r.state, Sample()) << n;
    }
  }
  // A folder in the file's place.
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_FALSE(store.Load(clip, 60000).state);
  EXPECT_FALSE(store.Save(clip, Sample()));
}

TEST_F(SectionStoreTest, PathsWithLineBreaksAndTheFolderFromTheEnvironment) {
  const std::string odd = dir.File("two\nlines\\.wmv");
  WriteFile(odd, "clip");
  ASSERT_TRUE(store.Save(odd, Sample()));
  EXPECT_TRUE(store.Load(odd, 60000).state);

  const char* oldState = getenv("XDG_STATE_HOME");
  const std::string saved = oldState ? oldState : "";
  setenv("XDG_STATE_HOME", "/somewhere/state", 1);
  EXPECT_EQ(CSectionStore::DefaultFolder(), "/somewhere/state/vantrel");
  setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: ignored
  EXPECT_EQ(CSectionStore::DefaultFolder(), std::string(getenv("HOME")) + "/.local/state/vantrel");
  if (oldState)
    setenv("XDG_STATE_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_STATE_HOME");

  // No clip file: nothing kept, nothing written.
  EXPECT_FALSE(store.Save(dir.File("missing.wmv"), Sample()));
  EXPECT_FALSE(store.Load(dir.File("missing.wmv"), 60000).state);
}
