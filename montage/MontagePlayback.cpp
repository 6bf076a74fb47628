#include "MontagePlayback.h"

#include <algorithm>

namespace {

// A picture's length at 25 fps: positions this close to a range count as inside it.
constexpr int32_t kSlackMs = 40;

}  // namespace

std::vector<PlayRange> MontagePlayback::MontageRanges(const std::vector<PERIOD>& sections,
                                                      const KeyFrameMarks& keys) {
  std::vector<PlayRange> ranges;
  for (size_t i = 0; i < sections.size(); ++i) {
    const PERIOD& s = sections[i];
    if (s.nDur <= 0) continue;
    ranges.push_back({keys.RealStart(s.nFrom), s.nFrom + s.nDur, static_cast<int>(i)});
  }
  std::stable_sort(ranges.begin(), ranges.end(), [&](const PlayRange& a, const PlayRange& b) {
    const PERIOD& sa = sections[static_cast<size_t>(a.section)];
    const PERIOD& sb = sections[static_cast<size_t>(b.section)];
    return sa.nSeq != sb.nSeq ? sa.nSeq < sb.nSeq : sa.nFrom < sb.nFrom;
  });
  return ranges;
}

PlaybackView MontagePlayback::TogglePlay(int32_t cursor, int32_t length) {
  if (m_mode != Mode::Stopped) return Pause();
  const int32_t from = cursor >= length - kSlackMs ? 0 : std::max(cursor, 0);
  PlaybackView v;
  if (!m_player.Play(from)) {
    m_player.Stop();
    v.message = kMsgCannotPlayClip;
    return v;
  }
  m_mode = Mode::Source;
  m_startPos = from;
  m_lastPos = -1;
  v.started = true;
  if (from != cursor) v.cursor = from;
  return v;
}

PlaybackView MontagePlayback::ToggleMontage(const std::vector<PERIOD>& sections,
                                            const KeyFrameMarks& keys) {
  if (m_mode == Mode::Montage) return Pause();
  PlaybackView v;
  std::vector<PlayRange> ranges = MontageRanges(sections, keys);
  if (ranges.empty()) {
    v.message = kMsgNoSectionToPlay;
    return v;
  }
  if (!m_player.PlayRanges(ranges)) {
    m_player.Stop();
    m_mode = Mode::Stopped;
    v.message = kMsgCannotPlayClip;
    v.still = true;
    return v;
  }
  m_mode = Mode::Montage;
  m_ranges = std::move(ranges);
  m_range = 0;
  m_lastPos = m_ranges.front().from;
  v.started = true;
  v.cursor = m_ranges.front().from;
  v.section = m_ranges.front().section;
  return v;
}

PlaybackView MontagePlayback::Tick() {
  PlaybackView v;
  if (m_mode == Mode::Stopped) return v;
  const int32_t pos = m_player.Position();
  // Until the player has sought, it may still tell a position of before.
  const int index = m_mode == Mode::Montage ? m_player.RangeIndex() : -1;
  if (!Plausible(pos, index)) return v;
  if (m_mode == Mode::Source) {
    if (pos == m_lastPos) return v;
  } else {
    if (index != m_range) {
      m_range = index;
      v.section = m_ranges[static_cast<size_t>(index)].section;
    }
    if (pos == m_lastPos && !v.section) return v;
  }
  m_lastPos = pos;
  v.cursor = pos;
  return v;
}

PlaybackView MontagePlayback::Ended() {
  if (m_mode == Mode::Stopped) return {};
  return Finish(std::nullopt);
}

PlaybackView MontagePlayback::Stop() {
  if (m_mode == Mode::Stopped) return {};
  m_player.Stop();
  return Finish(std::nullopt);
}

PlaybackView MontagePlayback::Pause() {
  if (m_mode == Mode::Stopped) return {};
  const int32_t shown = m_player.Pause();
  // Paused before the first picture came: the cursor stays where it is.
  if (Plausible(shown, m_player.RangeIndex())) return Finish(shown);
  return Finish(std::nullopt);
}

PlaybackView MontagePlayback::Finish(std::optional<int32_t> cursor) {
  m_mode = Mode::Stopped;
  m_ranges.clear();
  m_range = -1;
  PlaybackView v;
  v.cursor = cursor;
  v.still = true;
  return v;
}

bool MontagePlayback::Plausible(int32_t pos, int range) const {
  if (m_mode == Mode::Source) return pos >= m_startPos - kSlackMs;
  if (range < 0 || range >= static_cast<int>(m_ranges.size())) return false;
  const PlayRange& r = m_ranges[static_cast<size_t>(range)];
  return pos >= r.from - kSlackMs && pos <= r.to + kSlackMs;
}
