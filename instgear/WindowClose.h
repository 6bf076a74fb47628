// Closing a top-level X11 window by its title, the way an installer closes a running program.
#pragma once

namespace instgear {

enum class CloseResult {
  NoDisplay,   // no X server to talk to
  NotFound,    // no top-level window has that title
  NotOffered,  // the window found does not take WM_DELETE_WINDOW; nothing was sent
  Failed,      // the window went away or the server refused the message
  Sent,        // WM_DELETE_WINDOW went out to the window
};

// Finds the first top-level window (topmost first) whose _NET_WM_NAME, or WM_NAME where it has
// none, is exactly `title`, and asks it to close.
CloseResult CloseWindowTitled(const char* title);

}  // namespace instgear
