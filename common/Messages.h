// Window message ids exchanged between the parts of the program.
#pragma once

#include <cstdint>

// Standard window messages the controls and windows exchange.
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_DROPFILES = 0x0233;
constexpr uint32_t WM_SIZE = 0x0005;

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_APP = 0x8000;

constexpr uint32_t WM_SELECTOR_PICK = WM_USER + 10;     // 0x040A
constexpr uint32_t WM_TIMELINE_POS = WM_USER + 11;      // 0x040B
constexpr uint32_t WM_TIMELINE_CHANGED = WM_USER + 12;  // 0x040C
constexpr uint32_t WM_TIMELINE_RELEASE = WM_USER + 14;  // 0x040E
constexpr uint32_t WM_PREVIEW_NOTIFY = WM_USER + 21;    // 0x0415
constexpr uint32_t WM_EDIT_PROGRESS = WM_USER + 22;     // 0x0416
constexpr uint32_t WM_PLAYER_NOTIFY = WM_USER + 23;     // 0x0417
constexpr uint32_t WM_PLAYER_COMMAND = WM_USER + 23;    // 0x0417, same id towards the player window
constexpr uint32_t WM_GRAPH_NOTIFY = WM_APP + 1;        // 0x8001
// Posted by the montage pane's background work to the main window, which hands them to the pane.
constexpr uint32_t WM_KEYFRAMES_READY = WM_APP + 2;  // 0x8002: the source clip's key frames are known
constexpr uint32_t WM_FRAME_READY = WM_APP + 3;      // 0x8003: a preview picture waits to be drawn
