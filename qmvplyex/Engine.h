// Inside libqmvplyex.so: the library's one graph, shared by playback and the tape export. The
// playback module owns it (plyInit makes it, plyCleanUp releases it, the transport functions
// drive it); the tape module adds its elements to the same graph, so plyStop, plyIsPlaying,
// GetMvCurPos, plyHandleEvent and plyCleanUp act on a recording exactly as on a playback.
#pragma once

#include <gst/gst.h>

#include <string>

#include "QmvPlyEx.h"

namespace plyex {

// The pipeline plyInit made; null before plyInit and after plyCleanUp.
GstElement* Graph();

// True for Windows Media paths and URLs: ".wmv", ".qmv" or "http:" anywhere, case ignored.
bool IsWindowsMediaPath(const std::string& path);

// Adds the clip's source for `path` to the graph as playback does: "ASF Reader" for Windows
// Media paths and URLs, else "Source1". Decoded streams (video/x-raw, audio/x-raw) come out of
// the returned element's "pad-added" signal. Null (logged) without a graph or on failure.
GstElement* AddClipSource(const std::string& path);

// Takes the controls of the graph once its elements are in (bus, seeking, volume), as
// plyPlyUrl does at its end. An error or end of stream on the graph's bus from then on ends the
// playing state: plyIsPlaying answers FALSE and the next plyHandleEvent releases the graph.
// The graph's bus keeps only end-of-stream, error, warning, async-done, element and application
// messages (a sync handler drops the rest), so a host that polls seldom never piles them up.
HRESULT AcquireGraphControls();

// The first source pad of `filter` whose caps (its current ones, else those it can give) are of
// the major type `major` ("video", "audio"), with a reference; null when none has them, and
// null (logged) for a null filter.
GstPad* GetOutPin(GstElement* filter, const char* major);

// Sets the graph to PAUSED and waits, bounded, until its sinks prerolled (the first picture is
// shown). S_OK, or NS_E_FILE_OPEN_FAILED (logged) on an error of the graph, a demuxer that
// stopped before anything prerolled, or after five seconds. plyPlyUrl calls it between adding
// the source and taking the controls.
HRESULT PrerollGraph();

// The sink whose position is the recording's (the camcorder's end), or null when the tape graph
// goes; the graph's position is asked of it, not of the sinks that discard unused streams.
void SetRecordingSink(GstElement* sink);

// Releases what the tape module holds (camcorder, transport); plyCleanUp calls it once the graph
// has stopped (NULL state, streaming threads joined) and before the graph's elements are removed
// and the graph released; also when there is no graph. Defined by the tape module.
void ReleaseTape();

}  // namespace plyex
