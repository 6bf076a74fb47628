// Clips whose sound is stored ahead of the pictures, as Windows Media encoders write them: every
// range keeps all of its sound, and previews and merges stay exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "CQmvedit.h"
#include "ClipGen.h"
#include "EditJob.h"
#include "MediaProbe.h"
#include "RecordingDisplay.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::TempDir;

constexpr int kAudioFrameMs = 47;  // 2048 samples at 44.1 kHz, rounded up

clipgen::ClipSpec LeadClip(int durationMs, int leadMs, int keyMs) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  s.keyIntervalMs = keyMs;
  s.audioTracks = 2;
  s.audioLeadMs = leadMs;
  return s;
}

// Packets of each stream whose time lies in [from, to).
std::map<int, std::vector<probe::Packet>> PerStream(const probe::Clip& clip, int64_t from,
                                                    int64_t to) {
  std::map<int, std::vector<probe::Packet>> out;
  for (const probe::Packet& p : clip.packets)
    if (p.ptsMs >= from && p.ptsMs < to) out[p.stream].push_back(p);
  return out;
}

// The layout asked for: each sound sample is stored beside the pictures of its time less the lead.
void ExpectSoundStoredAhead(const probe::Clip& clip, int durationMs, int leadMs) {
  std::vector<probe::Packet> byPos = clip.packets;
  std::stable_sort(byPos.begin(), byPos.end(),
                   [](const probe::Packet& a, const probe::Packet& b) { return a.pos < b.pos; });
  int checked = 0;
  int64_t lastPicture = -1;
  for (const probe::Packet& p : byPos) {
    if (p.video) {
      lastPicture = p.ptsMs;
    } else if (leadMs >= durationMs) {
      EXPECT_EQ(lastPicture, -1) << "sound at " << p.ptsMs << " after the first picture";
      ++checked;
    } else if (p.ptsMs >= leadMs + 200 && p.ptsMs < durationMs - 200) {
      ASSERT_GE(lastPicture, 0);
      EXPECT_NEAR(p.ptsMs - leadMs, lastPicture, 100) << "sound at " << p.ptsMs;
      ++checked;
    }
  }
  EXPECT_GT(checked, 20);
}

TEST(SoundStoredAhead, MontageRangesKeepEverySoundSample) {
  TempDir dir;
  struct Range {
    int32_t start, len;
  };
  for (int lead : {0, 1000, 2500, 4000, 6000, 12000}) {
    SCOPED_TRACE("sound " + std::to_string(lead) + " ms ahead");
    // A range in the middle, one that opens within the lead at the clip's start, one that ends
    // at the clip's end; key frames every second. With the sound 6 s ahead, the second range's
    // sound from 5 s past its end is read before its last pictures; 12 s is more than the usual
    // buffer windows, and only the header's preroll says so.
    const int duration = lead > 10000 ? 16000 : 8000;
    const Range ranges[] = {{4300, 1500}, {600, 1900}, {duration - 1400, 1400}};
    const std::string src =
        MakeClip(dir, "lead" + std::to_string(lead) + ".wmv", LeadClip(duration, lead, 1000));
    const probe::Clip source = probe::ReadClip(src);
    ASSERT_TRUE(source.ok);
    ASSERT_EQ(source.audioStreams, 2);
    EXPECT_NEAR(source.durationMs, duration, 50);  // a longer preroll moves no time
    ASSERT_NO_FATAL_FAILURE(ExpectSoundStoredAhead(source, duration, lead));

    const std::string out = dir.File("montage" + std::to_string(lead) + ".wmv");
    CQmvedit edit;
    ASSERT_EQ(edit.Init(), S_OK);
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(edit, src, out));
    std::vector<int32_t> starts, lengths;
    int32_t outStart = 0;
    for (const Range& r : ranges) {
      int32_t len = r.len;
      ASSERT_EQ(edit.CopyPart(outStart, r.start, &len, 0), S_OK);
      starts.push_back(outStart);
      lengths.push_back(len);
      outStart += len;
    }
    ASSERT_EQ(edit.EndWrite(), S_OK);
    edit.Exit();

    const probe::Clip clip = probe::ReadClip(out);
    ASSERT_TRUE(clip.ok);
    EXPECT_EQ(probe::DecodeAll(out).errors, 0);
    for (size_t i = 0; i < starts.size(); ++i) {
      SCOPED_TRACE("range " + std::to_string(i));
      const int64_t key = ranges[i].start / 1000 * 1000;
      const int64_t end = std::min(ranges[i].start + ranges[i].len, duration);
      auto want = PerStream(source, key, end);
      auto got = PerStream(clip, starts[i], starts[i] + lengths[i]);
      ASSERT_EQ(got.size(), 3u);
      ASSERT_FALSE(got[0].empty());
      const probe::Packet& firstPicture = got[0].front();
      const probe::Packet& lastPicture = got[0].back();
      EXPECT_EQ(firstPicture.ptsMs, starts[i]);
      for (auto& [stream, packets] : got) {
        SCOPED_TRACE("stream " + std::to_string(stream));
        // Every sample of the source from the opening key frame to the range's end.
        EXPECT_EQ(packets.size(), want[stream].size());
        if (stream == 0 || packets.empty()) continue;
        EXPECT_LE(std::abs(packets.front().ptsMs - firstPicture.ptsMs), kAudioFrameMs);
        const int64_t soundEnd = packets.back().ptsMs + packets.back().durationMs;
        EXPECT_LE(std::abs(soundEnd - (lastPicture.ptsMs + lastPicture.durationMs)), kAudioFrameMs);
      }
    }
  }
}

TEST(SoundStoredAhead, PreviewAndMergeStayExact) {
  TempDir dir;
  const std::string src = MakeClip(dir, "lead.wmv", LeadClip(6000, 2500, 2000));
  const probe::Clip source = probe::ReadClip(src);
  ASSERT_TRUE(source.ok);

  // The frame at every position, pixel for pixel as an independent decoder has it.
  testutil::RecordingDisplay display(160, 120);
  CQmvedit edit;
  ASSERT_EQ(edit.Init(), S_OK);
  edit.SetDispWnd(&display);
  ASSERT_EQ(edit.SetSrcFile(src.c_str()), S_OK);
  ASSERT_EQ(edit.GetVideoOut(), 0);
  for (int p : {0, 1, 1999, 2000, 2041, 3999, 4520, 5960}) {
    SCOPED_TRACE(p);
    const int before = display.draws;
    edit.FindPosPic(p);
    ASSERT_EQ(display.draws, before + 1);
    EXPECT_EQ(display.Code(), (p + 39) / 40);
    const probe::Frame ref = probe::FrameAt(src, p);
    ASSERT_EQ(ref.bgra.size(), display.image.size());
    long diff = 0;
    for (size_t k = 0; k < ref.bgra.size(); k += 4)
      for (int c = 0; c < 3; ++c) diff += std::abs(ref.bgra[k + c] - display.image[k + c]);
    EXPECT_LE(static_cast<double>(diff) / (ref.bgra.size() / 4 * 3), 1.0);
  }

  // A keep-mode merge of the clip with itself keeps every sample at its own time.
  const std::string out = dir.File("merged.wmv");
  ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(edit, src, out));
  int32_t first = 0;
  ASSERT_EQ(edit.CopyPart(0, 0, &first, 1), S_OK);
  ASSERT_EQ(edit.SetSrcFile(src.c_str()), S_OK);
  ASSERT_EQ(edit.SetStream(0), S_OK);
  int32_t second = 0;
  ASSERT_EQ(edit.CopyPart(first, 0, &second, 1), S_OK);
  ASSERT_EQ(edit.EndWrite(), S_OK);
  EXPECT_NEAR(first, 6000, 50);
  EXPECT_EQ(second, first);
  edit.Exit();

  const probe::Clip merged = probe::ReadClip(out);
  EXPECT_EQ(probe::DecodeAll(out).errors, 0);
  auto want = PerStream(source, 0, 1 << 30);
  auto got = PerStream(merged, 0, 1 << 30);
  ASSERT_EQ(got.size(), 3u);
  for (auto& [stream, packets] : got) {
    SCOPED_TRACE("stream " + std::to_string(stream));
    const std::vector<probe::Packet>& in = want[stream];
    ASSERT_EQ(packets.size(), 2 * in.size());
    for (size_t k = 0; k < packets.size(); ++k) {
      const probe::Packet& from = in[k % in.size()];
      EXPECT_EQ(packets[k].ptsMs, from.ptsMs + (k < in.size() ? 0 : first)) << k;
      EXPECT_EQ(packets[k].size, from.size) << k;
    }
  }
}

}  // namespace
