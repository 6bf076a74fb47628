// The key frame listing against ffprobe's view of the same clips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "KeyFrames.h"
#include "MediaProbe.h"
#include "TestDir.h"

namespace {

// pts_time of every video packet ffprobe flags as a key frame, in ms.
std::vector<int32_t> FfprobeKeys(const std::string& path) {
  std::vector<int32_t> keys;
  const std::string cmd =
      "ffprobe -v error -select_streams v -show_entries packet=pts_time,flags -of csv=p=0 '" +
      path + "'";
  FILE* p = popen(cmd.c_str(), "r");
  char line[256];
  while (p != nullptr && std::fgets(line, sizeof(line), p)) {
    const std::string s(line);
    const size_t comma = s.find(',');
    if (comma != std::string::npos && s.find('K', comma) != std::string::npos)
      keys.push_back(static_cast<int32_t>(std::lround(std::stod(s.substr(0, comma)) * 1000)));
  }
  if (p != nullptr) pclose(p);
  return keys;
}

}  // namespace

TEST(KeyFrames, ListMatchesFfprobeWithAndWithoutIndex) {
  testutil::TempDir dir;
  struct Case {
    const char* name;
    int durationMs, keyIntervalMs;
    std::vector<int> keys;
    bool noIndex;
  } const cases[] = {
      {"every1s.wmv", 8000, 1000, {}, false},
      {"every2s.wmv", 13000, 2000, {}, false},
      {"every10s.wmv", 25000, 10000, {}, false},
      {"noindex.wmv", 13000, 2000, {}, true},
      {"listed.wmv", 16000, 1000, {10000, 13000}, false},
      // Closer than the index's one-second entries can tell apart.
      {"listed_noindex.wmv", 16000, 1000, {4000, 4500, 13000}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clipgen::ClipSpec params;
    params.durationMs = c.durationMs;
    params.width = 160;
    params.height = 120;
    params.keyIntervalMs = c.keyIntervalMs;
    params.keyFramesMs = c.keys;
    params.noIndex = c.noIndex;
    const std::string clip = testutil::MakeClip(dir, c.name, params);
    ASSERT_EQ(probe::HasSimpleIndex(clip), !c.noIndex);
    const std::vector<int32_t> expected = FfprobeKeys(clip);
    ASSERT_GE(expected.size(), 2u);
    std::vector<int32_t> listed;
    ASSERT_EQ(qmvedit::ListKeyFrames(clip.c_str(), &listed), S_OK);
    EXPECT_EQ(listed, expected);
    // In steps of one, the scan arrives at the same list.
    qmvedit::KeyFrameScan scan;
    ASSERT_EQ(scan.Open(clip.c_str()), S_OK);
    int steps = 0;
    while (!scan.Step(1)) ++steps;
    EXPECT_GT(steps, 1);
    EXPECT_EQ(scan.Times(), expected);
  }

  // Sound only: nothing to list; not a clip: a failure.
  clipgen::ClipSpec sound;
  sound.video = false;
  std::vector<int32_t> listed{1};
  EXPECT_EQ(qmvedit::ListKeyFrames(testutil::MakeClip(dir, "s.wma", sound).c_str(), &listed), S_OK);
  EXPECT_TRUE(listed.empty());
  std::ofstream(dir.File("notes.wmv")) << "not a clip at all\n";
  EXPECT_TRUE(FAILED(qmvedit::ListKeyFrames(dir.File("notes.wmv").c_str(), &listed)));
  qmvedit::KeyFrameScan scan;
  EXPECT_TRUE(FAILED(scan.Open(dir.File("missing.wmv").c_str())));
  EXPECT_TRUE(scan.Step(10));
}
