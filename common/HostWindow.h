// What the engine libraries need of a window, without depending on a widget toolkit: the program
// implements these with Qt, tests with plain recorders.
#pragma once

#include <cstdint>

// A window that receives posted messages, and the message queue of the thread that owns it.
class CMsgWindow {
 public:
  virtual ~CMsgWindow() = default;
  // Queues a message for the window (a "post": it returns at once).
  virtual void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;
  // Dispatches at most one pending message of the calling thread.
  virtual void DispatchOnePending() = 0;
};

// A window that shows a picture: reports its client size and draws a 32-bit image
// (B, G, R, X bytes per pixel, top row first) into a destination rectangle, scaled smoothly.
class CDisplayWindow {
 public:
  virtual ~CDisplayWindow() = default;
  virtual void GetClientSize(int* width, int* height) = 0;
  virtual bool DrawImage(const uint8_t* pixels, int width, int height, int stride, int destX,
                         int destY, int destW, int destH) = 0;
};
