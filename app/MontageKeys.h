// The keys of the Video Montage pane. They work wherever the focus is in the window while the
// pane is shown, but in an edit being typed in, which keeps its keys for its own text.
#pragma once

#include <QObject>
#include <functional>

class QWidget;

enum class MontageKey {
  PlayPause,     // Space
  PlayMontage,   // Shift+Space
  FrameBack,     // Left
  FrameForward,  // Right
  KeyBack,       // Shift+Left: the previous key frame
  KeyForward,    // Shift+Right
  MarkBack,      // Ctrl+Left: the previous mark
  MarkForward,   // Ctrl+Right
  Start,         // Home
  End,           // End
  SetBegin,      // I: a beginning point (or the first split point) at the cursor
  SetEnd,        // O: an end point (or the second split point)
  Delete,        // Delete: as Erase
};

class MontageKeys : public QObject {
 public:
  // The shortcuts live while `pane` (a control shown only with the pane) is visible.
  MontageKeys(QWidget* pane, std::function<void(MontageKey)> handler);
};
