// Playing in the montage pane's preview screen: the source from the cursor (Space), or the
// montage before it is written (Shift+Space): its sections in the order of their numbers, back to
// back, each from where its copy really starts to its end. The class holds the play and pause
// state, drives a player through PlaybackTransport and tells the pane what to show; it has no
// window and no media framework.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KeyFrameMarks.h"
#include "Period.h"

// A span to play, in ms, and the timeline index of the section it shows (-1 for none).
struct PlayRange {
  int32_t from = 0;
  int32_t to = 0;
  int section = -1;
};

// The preview player as the montage pane uses it. Calls return at once; pictures and sound
// follow on the player's own threads.
class PlaybackTransport {
 public:
  virtual ~PlaybackTransport() = default;
  // Plays the source clip from a position; false when it cannot.
  virtual bool Play(int32_t fromMs) = 0;
  // Plays the ranges one after another; false when it cannot.
  virtual bool PlayRanges(const std::vector<PlayRange>& ranges) = 0;
  // Pauses; returns the time of the frame on the screen.
  virtual int32_t Pause() = 0;
  virtual void Stop() = 0;
  // Position of what plays now, ms; which of the ranges plays (-1 when none).
  virtual int32_t Position() const = 0;
  virtual int RangeIndex() const = 0;
};

inline constexpr const char kMsgCannotPlayClip[] = "Cannot play the clip.";
inline constexpr const char kMsgNoSectionToPlay[] = "No section to play.";

// What the pane shows after a call; unset fields leave their control as it is.
struct PlaybackView {
  std::optional<int32_t> cursor;  // the timeline's cursor and edit 1014
  std::optional<int> section;     // the section (timeline index) whose row is selected
  bool started = false;           // the player took the screen: no still picture over it
  bool still = false;             // stopped: the still preview shows the frame at the cursor
  std::string message;            // for the message line
};

class MontagePlayback {
 public:
  enum class Mode { Stopped, Source, Montage };

  explicit MontagePlayback(PlaybackTransport& transport) : m_player(transport) {}

  Mode GetMode() const { return m_mode; }
  bool Playing() const { return m_mode != Mode::Stopped; }

  // Space: plays the source from the cursor (from the beginning when the cursor stands at the
  // clip's end), or pauses whatever plays, leaving the cursor on the frame shown.
  PlaybackView TogglePlay(int32_t cursor, int32_t length);
  // Shift+Space: plays the montage of the sections, or pauses what plays.
  PlaybackView ToggleMontage(const std::vector<PERIOD>& sections, const KeyFrameMarks& keys);
  // While playing, several times a second: the cursor follows the player, and the row of the
  // section that plays is selected when it changes.
  PlaybackView Tick();
  // The player stopped by itself (the end of the clip or of the last section).
  PlaybackView Ended();
  // Stops without moving the cursor (another function, another clip).
  PlaybackView Stop();
  // Pauses whatever plays with the cursor on the frame shown (nothing when nothing plays).
  PlaybackView Pause();

  // The montage's ranges: sections by number (then by start), each from the real start of its
  // beginning to its end.
  static std::vector<PlayRange> MontageRanges(const std::vector<PERIOD>& sections,
                                              const KeyFrameMarks& keys);

 private:
  // Whether a position the player tells belongs to what plays now.
  bool Plausible(int32_t pos, int range) const;
  // Nothing plays any more: the still preview shows the frame at the cursor.
  PlaybackView Finish(std::optional<int32_t> cursor);

  PlaybackTransport& m_player;
  Mode m_mode = Mode::Stopped;
  int32_t m_startPos = 0;
  std::vector<PlayRange> m_ranges;
  int m_range = -1;
  int32_t m_lastPos = -1;
};
