// The preview player: plays one clip at a time into a small video window of the program and tells
// its notify window how far it got. One object plays one clip after another; the owner creates it,
// hands it the video window, calls Init and SetNotifyWnd, then Open + Start per clip, Stop, and
// Exit before deleting it.
//
// Reports, posted to the notify window as WM_PREVIEW_NOTIFY:
//   wParam 1, lParam the position in ms: every 500 ms while the clip plays;
//   wParam 0: the clip stopped by itself (end of the clip or of the last range, a playback error,
//   or a clip of OpenAsync that could not be played).
// Stop() and Pause() post nothing. Reports are driven by a Qt timer, so the owner's thread must run
// a Qt event loop; every call comes from that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "HostWindow.h"
#include "WinTypes.h"

#define QMVPLY_API __attribute__((visibility("default")))

class QWidget;
struct QmvplyState;

// A span of the clip in 100-ns units: from its start up to its end (0: the clip's end).
struct QmvplyRange {
  uint64_t from = 0;
  uint64_t to = 0;
};

class QMVPLY_API CQmvply {
 public:
  CQmvply();
  ~CQmvply();  // releases what Exit would, for an owner that never called it
  CQmvply(const CQmvply&) = delete;
  CQmvply& operator=(const CQmvply&) = delete;

  // The video window, given before Init. A widget is preferred: its native window is taken when a
  // clip is opened and the widget may be deleted safely first. A bare native id (an X window) is
  // for hosts without the widget at hand. Without a window, or on a display that is not X11,
  // pictures are decoded and dropped. The environment variable VANTREL_VIDEO_SINK names another
  // sink element (for example "fakesink"), VANTREL_AUDIO_SINK the audio one.
  void SetVideoWnd(QWidget* wnd);
  void SetVideoWnd(uintptr_t nativeId);

  // Starts the media framework (once per process) and the report timer. S_OK, also when called
  // again; E_FAIL when the framework cannot start.
  HRESULT Init();
  // Where the reports go; null stops them.
  void SetNotifyWnd(CMsgWindow* wnd);

  // Opens an ASF clip (".wmv", ".qmv": the content decides, not the name) and shows its first
  // picture. Whatever was open before is closed first. Fails with E_INVALIDARG (empty path),
  // NS_E_FILE_OPEN_FAILED (missing or unreadable, not ASF, damaged, or nothing to play) or
  // E_UNEXPECTED (before Init); the player then holds no clip and stays usable.
  HRESULT Open(const wchar_t* path);
  // Opens the clip as Open does, without waiting for its first picture: S_OK once the pipeline is
  // built (E_INVALIDARG, NS_E_FILE_OPEN_FAILED for a missing file, E_UNEXPECTED before Init).
  // Start, StartRanges and Pause given meanwhile are carried out once it has prerolled; a clip
  // that turns out unplayable is closed and reported as an end (wParam 0).
  HRESULT OpenAsync(const wchar_t* path);
  // Plays the open clip from startPos, in 100-ns units (0: the beginning), also when it plays
  // already or is paused. E_FAIL without an open clip.
  HRESULT Start(uint64_t startPos);
  // Plays the ranges one after another, back to back, each from its start to its end (the next
  // one is asked for while the last pictures of the one before still play); the end report comes
  // after the last. E_INVALIDARG without ranges, E_FAIL without an open clip.
  HRESULT StartRanges(const QmvplyRange* ranges, size_t count);
  // Holds the picture and keeps the clip open; Start or StartRanges play on. E_FAIL without an
  // open clip.
  HRESULT Pause();
  // Stops playing and closes the clip; a new Open is needed to play again. S_OK in any state.
  HRESULT Stop();
  // Stops, closes and releases everything Init made. S_OK in any state, also twice.
  HRESULT Exit();

  // Views for the program and for tests.
  bool IsOpen() const;
  bool IsPlaying() const;
  bool IsPaused() const;
  // Current position in ms (0 without a clip).
  int32_t GetPosition() const;
  // Time in ms of the picture the video sink got last, on the clip's time line: the frame on the
  // screen after Pause. -1 before the first picture (a seek drops the picture before it);
  // GetPosition for a clip without pictures.
  int32_t GetShownPosition() const;
  // Which range of StartRanges the sinks play now, from 0; -1 when no ranges play.
  int GetRangeIndex() const;
  // Name of the video sink element of the open clip ("" without a clip), e.g. "ximagesink".
  const char* GetVideoSinkName() const;

 private:
  void OnTimer();
  // Handles what the bus holds; false when the clip stopped by itself (closed and reported).
  bool Poll();
  // Closes what is open and builds the pipeline for the clip at path (its name into *file).
  HRESULT Build(const wchar_t* path, std::string* file);
  HRESULT Begin();
  bool SeekRange(size_t index, bool flush);
  void JoinSeeker();
  void Close();

  QmvplyState* m_pState;
};
