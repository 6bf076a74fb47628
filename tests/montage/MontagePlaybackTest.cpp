// Play and pause of the montage pane, the montage's ranges, and where the pane's keys move the
// cursor, on a player stand-in that records what it was asked.
#include <gtest/gtest.h>

#include <cmath>

#include "CursorKeys.h"
#include "MontagePlayback.h"

namespace {

class FakePlayer : public PlaybackTransport {
 public:
  bool Play(int32_t fromMs) override {
    plays.push_back(fromMs);
    return works;
  }
  bool PlayRanges(const std::vector<PlayRange>& r) override {
    ranges = r;
    return works;
  }
  int32_t Pause() override {
    ++pauses;
    return shown;
  }
  void Stop() override { ++stops; }
  int32_t Position() const override { return position; }
  int RangeIndex() const override { return range; }

  bool works = true;
  std::vector<int32_t> plays;
  std::vector<PlayRange> ranges;
  int pauses = 0, stops = 0;
  int32_t shown = 0, position = 0;
  int range = -1;
};

}  // namespace

// Space plays from the cursor, the cursor follows (not to stale positions from before the seek),
// Space again pauses with the cursor on the frame shown; at the clip's end it plays from the
// beginning; a player that cannot play leaves a message and nothing playing.
TEST(MontagePlaybackTest, SpacePlaysFromTheCursorAndPausesOnTheFrameShown) {
  FakePlayer player;
  MontagePlayback playback(player);
  PlaybackView v = playback.TogglePlay(10000, 60000);
  EXPECT_EQ(player.plays, std::vector<int32_t>{10000});
  EXPECT_TRUE(v.started);
  EXPECT_FALSE(v.cursor);
  EXPECT_EQ(playback.GetMode(), MontagePlayback::Mode::Source);

  player.position = 0;  // not sought yet
  EXPECT_FALSE(playback.Tick().cursor);
  player.position = 10480;
  EXPECT_EQ(playback.Tick().cursor, 10480);
  EXPECT_FALSE(playback.Tick().cursor);  // unchanged: nothing to do
  player.position = 10600;
  EXPECT_EQ(playback.Tick().cursor, 10600);

  player.shown = 10640;
  v = playback.TogglePlay(10600, 60000);
  EXPECT_EQ(player.pauses, 1);
  EXPECT_EQ(v.cursor, 10640);
  EXPECT_TRUE(v.still);
  EXPECT_FALSE(playback.Playing());
  player.position = 20000;
  EXPECT_FALSE(playback.Tick().cursor);

  // Paused before the first picture: the player tells a position from before the start.
  playback.TogglePlay(30000, 60000);
  player.shown = 0;
  v = playback.Pause();
  EXPECT_FALSE(v.cursor);
  EXPECT_TRUE(v.still);
  EXPECT_FALSE(playback.Pause().still);  // nothing plays any more

  v = playback.TogglePlay(59990, 60000);
  EXPECT_EQ(player.plays.back(), 0);
  EXPECT_EQ(v.cursor, 0);
  v = playback.Ended();
  EXPECT_TRUE(v.still);
  EXPECT_FALSE(v.cursor);
  EXPECT_FALSE(playback.Playing());
  EXPECT_FALSE(playback.Ended().still);  // once

  player.works = false;
  v = playback.TogglePlay(5000, 60000);
  EXPECT_EQ(v.message, kMsgCannotPlayClip);
  EXPECT_FALSE(playback.Playing());
  EXPECT_EQ(player.stops, 1);
  EXPECT_FALSE(playback.Stop().still);  // nothing plays: nothing to stop
  EXPECT_EQ(player.stops, 1);
}

// The montage plays its sections by number from their real starts (the key frame at or before
// the start) to their ends; the row follows the range that plays, the cursor its position;
// Shift+Space or Space pauses, the end leaves the still preview.
TEST(MontagePlaybackTest, MontagePlaysSectionsByNumberFromTheirRealStarts) {
  const KeyFrameMarks keys({0, 2000, 4000, 6000, 8000});
  // Timeline order: numbers 2, 1, 3; an empty section plays nothing.
  const std::vector<PERIOD> sections = {
      {2500, 1000, 2}, {6200, 1300, 1}, {8000, 900, 3}, {9500, 0, 4}};
  const std::vector<PlayRange> ranges = MontagePlayback::MontageRanges(sections, keys);
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[0].from, 6000);
  EXPECT_EQ(ranges[0].to, 7500);
  EXPECT_EQ(ranges[0].section, 1);
  EXPECT_EQ(ranges[1].from, 2000);
  EXPECT_EQ(ranges[1].to, 3500);
  EXPECT_EQ(ranges[1].section, 0);
  EXPECT_EQ(ranges[2].from, 8000);
  EXPECT_EQ(ranges[2].to, 8900);
  EXPECT_EQ(ranges[2].section, 2);
  // Without a key frame list a section starts where it starts; equal numbers by start.
  const auto plain = MontagePlayback::MontageRanges({{5000, 100, 1}, {1000, 100, 1}}, {});
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(plain[0].from, 1000);
  EXPECT_EQ(plain[1].from, 5000);

  FakePlayer player;
  MontagePlayback playback(player);
  PlaybackView v = playback.ToggleMontage(sections, keys);
  ASSERT_EQ(player.ranges.size(), 3u);
  EXPECT_EQ(player.ranges[1].from, 2000);
  EXPECT_TRUE(v.started);
  EXPECT_EQ(v.cursor, 6000);
  EXPECT_EQ(v.section, 1);

  player.range = 0;
  player.position = 6800;
  v = playback.Tick();
  EXPECT_EQ(v.cursor, 6800);
  EXPECT_FALSE(v.section);
  // The next range has been asked for but its position is still the one before: nothing.
  player.range = 1;
  player.position = 7500;
  EXPECT_FALSE(playback.Tick().cursor);
  player.position = 2040;
  v = playback.Tick();
  EXPECT_EQ(v.cursor, 2040);
  EXPECT_EQ(v.section, 0);
  player.position = 2200;
  v = playback.Tick();
  EXPECT_EQ(v.cursor, 2200);
  EXPECT_FALSE(v.section);

  player.shown = 2240;
  v = playback.ToggleMontage(sections, keys);
  EXPECT_EQ(player.pauses, 1);
  EXPECT_EQ(v.cursor, 2240);
  EXPECT_FALSE(playback.Playing());

  playback.ToggleMontage(sections, keys);
  v = playback.TogglePlay(2300, 10000);  // Space pauses the montage too
  EXPECT_EQ(player.pauses, 2);
  EXPECT_TRUE(v.still);
  playback.ToggleMontage(sections, keys);
  v = playback.Ended();
  EXPECT_TRUE(v.still);
  player.range = 2;
  player.position = 8500;
  EXPECT_FALSE(playback.Tick().cursor);

  v = playback.ToggleMontage({}, keys);
  EXPECT_EQ(v.message, kMsgNoSectionToPlay);
  EXPECT_FALSE(playback.Playing());
}

// One frame: the frame after the one shown at the cursor, the last before it; at 25 fps and at
// 29.97 fps (frame times rounded down to the ms); key frames and marks strictly before and after.
TEST(MontagePlaybackTest, CursorKeysFindFramesKeyFramesAndMarks) {
  using namespace cursorkeys;
  EXPECT_EQ(NextFrame(10000, 25, 60000), 10040);
  EXPECT_EQ(NextFrame(10010, 25, 60000), 10080);  // 10010 shows the frame at 10040
  EXPECT_EQ(PreviousFrame(10000, 25), 9960);
  EXPECT_EQ(PreviousFrame(10010, 25), 10000);
  EXPECT_EQ(PreviousFrame(0, 25), 0);
  EXPECT_EQ(NextFrame(59960, 25, 60000), 59960);  // no frame at the end
  // 30000/1001 fps: every step lands on a ms that shows the next frame, and back again.
  const double ntsc = 30000.0 / 1001.0;
  int32_t pos = 0;
  for (int n = 1; n <= 3000; ++n) {
    pos = NextFrame(pos, ntsc, 1000000);
    ASSERT_EQ(pos, static_cast<int32_t>(std::floor(n * 1001.0 / 30.0 + 1e-6))) << n;
  }
  for (int n = 2999; n >= 0; --n) {
    pos = PreviousFrame(pos, ntsc);
    ASSERT_EQ(pos, static_cast<int32_t>(std::floor(n * 1001.0 / 30.0 + 1e-6))) << n;
  }
  EXPECT_EQ(NextFrame(0, 0, 1000), 40);  // no frame rate known: 25 fps
  // The rate as a clip stores it (a picture of 333333 x 100 ns) steps as 30 fps, an hour in.
  EXPECT_EQ(NextFrame(3000, 1e7 / 333333, 10000), 3033);
  EXPECT_EQ(NextFrame(3600000, 1e7 / 333333, 4000000), 3600033);
  EXPECT_EQ(PreviousFrame(3600000, 1e7 / 333333), 3599966);
  EXPECT_EQ(NextFrame(1001, 1e7 / 333667, 10000), 1034);  // 29.97 fps

  const KeyFrameMarks keys({0, 4000, 8000});
  EXPECT_EQ(NextKeyFrame(keys, 4000), 8000);
  EXPECT_EQ(NextKeyFrame(keys, 3999), 4000);
  EXPECT_EQ(PreviousKeyFrame(keys, 4000), 0);
  EXPECT_EQ(PreviousKeyFrame(keys, 4001), 4000);
  EXPECT_EQ(NextKeyFrame(keys, 8000), 8000);
  EXPECT_EQ(PreviousKeyFrame(KeyFrameMarks(), 500), 500);

  Marks marks;
  marks.sections = {{5000, 1000, 1}, {1000, 500, 2}};
  marks.beginSet = true;
  marks.begin = 3000;
  EXPECT_EQ(NextMark(marks, 0), 1000);
  EXPECT_EQ(NextMark(marks, 1000), 1500);
  EXPECT_EQ(NextMark(marks, 1500), 3000);
  EXPECT_EQ(NextMark(marks, 3000), 5000);
  EXPECT_EQ(NextMark(marks, 6000), 6000);
  EXPECT_EQ(PreviousMark(marks, 5500), 5000);
  EXPECT_EQ(PreviousMark(marks, 5000), 3000);
  EXPECT_EQ(PreviousMark(marks, 1000), 1000);
  marks.splitState = 1;
  marks.split1 = 5300;
  EXPECT_EQ(NextMark(marks, 5000), 5300);

  // The kind of point Add Mark sets, for I and O.
  EXPECT_EQ(PointAt(marks, 5600), Point::SecondSplit);
  EXPECT_EQ(PointAt(marks, 6000), Point::SecondSplit);  // the end belongs to the section
  EXPECT_EQ(PointAt(marks, 4000), Point::End);
  marks.beginSet = false;
  marks.splitState = 0;
  EXPECT_EQ(PointAt(marks, 4000), Point::Begin);
  EXPECT_EQ(PointAt(marks, 5600), Point::FirstSplit);
  EXPECT_TRUE(IsBeginKind(Point::Begin));
  EXPECT_TRUE(IsBeginKind(Point::FirstSplit));
  EXPECT_FALSE(IsBeginKind(Point::End));
  EXPECT_FALSE(IsBeginKind(Point::SecondSplit));
}
