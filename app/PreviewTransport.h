// The preview player of the main window (the one Clip Merge plays its clips with) as the montage
// pane plays its source: the clip is opened without waiting for its first picture when the pane
// first plays it, kept while paused, and given back when the pane lets go of the player (Clip
// Merge's preview stops when another function becomes the current one).
#pragma once

#include <string>

#include "MontagePlayback.h"

class PaneHost;

class PreviewTransport : public PlaybackTransport {
 public:
  explicit PreviewTransport(PaneHost& dlg) : m_dlg(dlg) {}

  // The source clip to play ("" for none); a new clip lets go of the player.
  void SetClip(const std::string& path);
  // Another function takes the player: the clip is closed.
  void Release();

  bool Play(int32_t fromMs) override;
  bool PlayRanges(const std::vector<PlayRange>& ranges) override;
  int32_t Pause() override;
  void Stop() override;
  int32_t Position() const override;
  int RangeIndex() const override;

 private:
  // The player with the source clip open (or opening), null when it cannot have it.
  class CQmvply* Take();

  PaneHost& m_dlg;
  std::string m_path;
  bool m_held = false;  // the player's clip is ours
};
