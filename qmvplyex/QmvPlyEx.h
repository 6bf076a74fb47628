// The exported functions of libqmvplyex.so: playback of one clip into a window of the caller
// (full screen on a chosen monitor if asked) and recording of a clip onto a DV camcorder's tape.
// Callers load the library from the program's folder with dlopen and bind each name with dlsym
// at the moment of use, so only plain C types cross this boundary. All state lives once per
// loaded library; every call comes from the program's user-interface thread, except that FindVtr
// and ExportToTape, which wait for the camcorder and the clip's first pictures, may run on a
// thread of the host's own while the host makes no other call.
//
// Times are milliseconds (32-bit) here and 100-ns units inside the library. Volume is in
// hundredths of a decibel (0 full, -10000 silent); rate is a factor (1.0 normal).
#pragma once

#include <cstdint>

#define QMVPLYEX_API extern "C" __attribute__((visibility("default")))

// Windows-style C types: BOOL and LONG are 32-bit signed (LONG is the Windows long, not the
// platform's long); HWND is a native X11 window id; HDC an opaque, possibly null, pointer.
using HRESULT = int32_t;
using BOOL = int32_t;
using LONG = int32_t;
using HWND = uintptr_t;
using HDC = void*;

struct RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
struct POINT {
  int32_t x;
  int32_t y;
};

// Graph states of the transport: 0 stopped, 1 paused, 2 running, -1 no graph (or none of these).
constexpr int kPlyStateNone = -1;
constexpr int kPlyStateStopped = 0;
constexpr int kPlyStatePaused = 1;
constexpr int kPlyStateRunning = 2;

// Tape transport commands of CtrlVtr, and the mode values passed to the camcorder.
constexpr int kVtrStop = 0;
constexpr int kVtrPlay = 1;
constexpr int kVtrRecord = 2;
constexpr int kVtrFreeze = 3;
constexpr int kVtrRewind = 4;
constexpr int kVtrFastForward = 5;
constexpr int32_t ED_MODE_PLAY = 0x10C8;
constexpr int32_t ED_MODE_STOP = 0x10C9;
constexpr int32_t ED_MODE_FREEZE = 0x10CA;
constexpr int32_t ED_MODE_FF = 0x10CC;
constexpr int32_t ED_MODE_REW = 0x10CD;
constexpr int32_t ED_MODE_RECORD = 0x10CE;

// --- Playback graph ---
// Creates an empty graph (releases nothing: call plyCleanUp first). The clip window must be given
// again after every plyInit.
QMVPLYEX_API HRESULT plyInit(void);
// Adds the video renderer ("VMR9") and reads the monitor table.
QMVPLYEX_API HRESULT plyUseVMR(void);
QMVPLYEX_API HRESULT SetClipWnd(HWND window);
QMVPLYEX_API HWND SetFatherWnd(HWND window);
// Stores the path of the next clip; returns 1.
QMVPLYEX_API int SetUrl(const char* path);
// Loads and renders a clip: ".wmv", ".qmv" or "http:" anywhere in the path (any case) through the
// Windows Media source "ASF Reader", anything else through the generic source "Source1".
QMVPLYEX_API HRESULT plyPlyUrl(const char* path);
// Video rectangle in the clip window; the picture keeps its shape inside it.
QMVPLYEX_API void SetMv(int left, int top, int width, int height);
QMVPLYEX_API void SetMvRect(RECT rect);

// --- Transport ---
QMVPLYEX_API HRESULT plyStart(void);
QMVPLYEX_API HRESULT plyPause(void);
QMVPLYEX_API HRESULT plyStop(void);
QMVPLYEX_API BOOL plyIsPlaying(void);
// Pops the graph's events; the end of the clip or an error releases the graph (plyCleanUp).
QMVPLYEX_API void plyHandleEvent(void);
QMVPLYEX_API void plyCleanUp(void);
QMVPLYEX_API LONG GetMvDuration(LONG* ms);
QMVPLYEX_API LONG GetMvCurPos(LONG* ms);
QMVPLYEX_API void SetMvCurPos(LONG ms);
QMVPLYEX_API HRESULT SetMvPlySpeed(double rate);
QMVPLYEX_API HRESULT SetAudioVol(LONG volume);
QMVPLYEX_API HRESULT GetAudioVol(LONG* volume);

// --- Clip window and monitors ---
// Full screen on the monitor that holds `origin` (null: (0, 0)), or back to the saved window.
QMVPLYEX_API BOOL SetFullScr(BOOL on, const POINT* origin);
QMVPLYEX_API BOOL IsFullScr(void);
QMVPLYEX_API BOOL SwitchScr(void);
QMVPLYEX_API BOOL RepaintWnd(HWND window, HDC dc);
// Chooses monitor `index` and returns its desktop rectangle (a pointer into the library's table).
QMVPLYEX_API const RECT* SetOutput(int index);

// --- DV tape ---
// TRUE when a DV camcorder in VTR mode is connected and its transport can be commanded.
QMVPLYEX_API BOOL FindVtr(void);
// Stops any playback, builds the tape graph for the clip, runs it and commands record. TRUE only
// when the recording really runs.
QMVPLYEX_API BOOL ExportToTape(const char* path);
// Transport command kVtr* (0..5); other codes do nothing.
QMVPLYEX_API void CtrlVtr(int command);
// How the last recording that ExportToTape started went: 1 the whole clip reached the tape, -1
// it stopped before its end (a write or stream error, or a stop), 0 still running or none.
QMVPLYEX_API int GetTapeResult(void);

// Pointer types for binding by name.
using plyInitFn = HRESULT (*)();
using plyUseVMRFn = HRESULT (*)();
using SetClipWndFn = HRESULT (*)(HWND);
using SetFatherWndFn = HWND (*)(HWND);
using SetUrlFn = int (*)(const char*);
using plyPlyUrlFn = HRESULT (*)(const char*);
using SetMvFn = void (*)(int, int, int, int);
using SetMvRectFn = void (*)(RECT);
using plyStartFn = HRESULT (*)();
using plyPauseFn = HRESULT (*)();
using plyStopFn = HRESULT (*)();
using plyIsPlayingFn = BOOL (*)();
using plyHandleEventFn = void (*)();
using plyCleanUpFn = void (*)();
using GetMvDurationFn = LONG (*)(LONG*);
using GetMvCurPosFn = LONG (*)(LONG*);
using SetMvCurPosFn = void (*)(LONG);
using SetMvPlySpeedFn = HRESULT (*)(double);
using SetAudioVolFn = HRESULT (*)(LONG);
using GetAudioVolFn = HRESULT (*)(LONG*);
using SetFullScrFn = BOOL (*)(BOOL, const POINT*);
using IsFullScrFn = BOOL (*)();
using SwitchScrFn = BOOL (*)();
using RepaintWndFn = BOOL (*)(HWND, HDC);
using SetOutputFn = const RECT* (*)(int);
using FindVtrFn = BOOL (*)();
using ExportToTapeFn = BOOL (*)(const char*);
using CtrlVtrFn = void (*)(int);
using GetTapeResultFn = int (*)();
