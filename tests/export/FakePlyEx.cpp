// A stand-in playback engine for the player window's tests: it keeps the transport state the
// window asks about and writes every call it gets, one line each, into a log the test reads
// through FakeLog. Built twice: with every export the window uses, and (FAKE_PARTIAL) without
// the ones the window must do without.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "QmvPlyEx.h"

namespace {

std::string g_log;
int g_playing = 0;
int g_position = 0;
int g_fullScreen = 0;
int g_ended = 0;  // the next plyHandleEvent finds the end of the clip

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_log += line;
  g_log += '\n';
}

}  // namespace

// Test-only exports.
QMVPLYEX_API const char* FakeLog() {
  return g_log.c_str();
}
QMVPLYEX_API void FakeClearLog() {
  g_log.clear();
}
// "playing", "position", "full" or "ended".
QMVPLYEX_API void FakeSet(const char* key, int value) {
  if (std::strcmp(key, "playing") == 0) g_playing = value;
  if (std::strcmp(key, "position") == 0) g_position = value;
  if (std::strcmp(key, "full") == 0) g_fullScreen = value;
  if (std::strcmp(key, "ended") == 0) g_ended = value;
}

// What every engine the window meets has.
QMVPLYEX_API HRESULT SetClipWnd(HWND window) {
  Log("SetClipWnd %llu", static_cast<unsigned long long>(window));
  return 0;
}
QMVPLYEX_API HRESULT plyPlyUrl(const char* path) {
  Log("plyPlyUrl %s", path);
  return 0;
}
QMVPLYEX_API HRESULT plyStart() {
  Log("plyStart");
  g_playing = 1;
  return 0;
}
QMVPLYEX_API HRESULT plyStop() {
  Log("plyStop");
  g_playing = 0;
  return 0;
}
QMVPLYEX_API BOOL plyIsPlaying() {
  return g_playing;
}
QMVPLYEX_API LONG GetMvCurPos(LONG* ms) {
  *ms = g_position;
  return g_position;
}
QMVPLYEX_API void SetMvCurPos(LONG ms) {
  Log("SetMvCurPos %d", ms);
  g_position = ms;
}
QMVPLYEX_API void plyCleanUp() {
  Log("plyCleanUp");
  g_playing = 0;
}

#ifndef FAKE_PARTIAL
// What the window skips when the engine lacks it.
QMVPLYEX_API HRESULT plyInit() {
  Log("plyInit");
  return 0;
}
QMVPLYEX_API HRESULT plyUseVMR() {
  Log("plyUseVMR");
  return 0;
}
QMVPLYEX_API void SetMv(int left, int top, int width, int height) {
  Log("SetMv %d,%d,%d,%d", left, top, width, height);
}
QMVPLYEX_API void plyHandleEvent() {
  Log("plyHandleEvent");
  if (g_ended != 0) {
    g_ended = 0;
    g_playing = 0;
  }
}
QMVPLYEX_API BOOL SetFullScr(BOOL on, const POINT* origin) {
  if (origin != nullptr)
    Log("SetFullScr %d %d,%d", on, origin->x, origin->y);
  else
    Log("SetFullScr %d null", on);
  g_fullScreen = on;
  return 1;
}
QMVPLYEX_API BOOL IsFullScr() {
  return g_fullScreen;
}
QMVPLYEX_API const RECT* SetOutput(int index) {
  static const RECT monitors[2] = {{0, 0, 1024, 768}, {1024, 0, 1824, 600}};
  Log("SetOutput %d", index);
  return &monitors[index >= 1 ? 1 : 0];
}
#endif
