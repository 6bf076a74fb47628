// The playback module's one state per loaded library, and the window side it calls (monitors,
// full screen, the child window the X sinks draw in), which reaches the program's windows
// through Qt by their native ids.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <string>

#include "Media.h"
#include "QmvPlyEx.h"

namespace plyex {

constexpr int kMaxMonitors = 16;

struct PlaybackState {
  // Graph and its controls.
  GstElement* graph = nullptr;
  GstBus* bus = nullptr;
  bool haveControl = false;
  bool haveSeeking = false;
  bool haveEvents = false;
  bool haveAudio = false;
  bool haveWindowless = false;  // a renderer draws into the clip window
  bool haveMonitorConfig = false;
  int chosenMonitor = 0;
  BOOL seekable = FALSE;
  bool seekableKnown = false;
  double rate = 1.0;
  LONG volume = 0;
  // Set from the streaming threads by the bus's sync handler once the controls are taken.
  std::atomic<bool> ended{false};

  // The source of the current clip and what its opening learnt.
  GstElement* source = nullptr;
  media::ClipCheck check;

  // Renderer "VMR9" and the branches that take the decoded streams (guarded by `lock`, which
  // the decoder's pad-added handler takes on a streaming thread).
  std::mutex lock;
  GstElement* vmr = nullptr;  // held while the renderer exists (also in the video branch)
  bool vmrScales = false;     // the picture is scaled to the video rectangle in the pipeline
  media::Branch videoBranch;
  media::Branch audioBranch;
  GstElement* sizeFilter = nullptr;  // capsfilter of the video branch setting the scaled size
  GstElement* volumeElement = nullptr;
  GstElement* recordingSink = nullptr;  // the tape's end, while a recording's graph exists

  // Clip window and video rectangle.
  HWND clipWnd = 0;
  HWND fatherWnd = 0;
  RECT videoRect{};
  bool haveVideoRect = false;

  // Kept by plyInit.
  RECT monitors[kMaxMonitors]{};
  int nMonitors = 1;
  BOOL fullScreen = FALSE;
  LONG savedStyle = 0;
  RECT savedWindow{};
  RECT savedClient{};  // its inner rectangle, which is what is given back
  std::string url;
  RECT savedVideo{};
};

PlaybackState& State();

// Sets the video rectangle in the clip window; a rectangle of the whole screen (`monitor`, or
// the monitor holding the clip window when null) is not remembered as the saved one.
void SetVideoRect(const RECT& rect, const RECT* monitor);

// --- Window side (PlaybackWindow.cpp) ---
// The screens the display server reports, primary first, at most `max`; 0 without a display.
int ReadMonitors(RECT* table, int max);
// The desktop rectangle of the monitor that holds the point (the primary's when none does);
// false without screens.
bool MonitorAt(int x, int y, RECT* out);
// The monitor that holds the window's top-left corner (the primary's for an unknown window).
bool MonitorOfWindow(HWND window, RECT* out);
// Makes the window borderless and places it at `rect` (screen coordinates), remembering the
// style and window rectangle it had when `save` is set. False for a window not of this program.
bool EnterFullScreen(HWND window, const RECT& rect, bool save);
// Gives the window back its remembered style and rectangle.
bool LeaveFullScreen(HWND window);
// The window the X sinks draw in: a child of the clip window placed at `rect` (the whole client
// area when null), made or moved as needed; the clip window itself when it is not one of this
// program's windows (then *child is false). 0 without a clip window.
uintptr_t PlaceVideoWindow(HWND clip, const RECT* rect, bool* child);
// Destroys the child window (after the sink stopped drawing in it).
void DropVideoWindow();
// Destroys the child window of a former clip window, kept by PlaceVideoWindow until the sink
// was given the new one (a window destroyed under a drawing sink ends the process).
void DropRetiredVideoWindow();
// Client size of a window of this program; false when unknown.
bool ClientSize(HWND window, int* width, int* height);

}  // namespace plyex
