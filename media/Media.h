// GStreamer pieces the preview player and the playback engine share: starting the framework,
// choosing sinks (the environment's, X video, or none shown), the clip source with its ASF
// content check, the bounded wait for the first picture, and the decoded-stream branches.
// Nothing here runs a GLib main loop: buses are popped by the callers.
#pragma once

#include <gst/gst.h>

#include <initializer_list>
#include <mutex>
#include <string>

namespace media {

// Starts GStreamer once per process; false (logged) when it cannot start.
bool InitGStreamer();

// The value of an environment variable, "" when unset.
std::string EnvText(const char* name);

// Name of the element's factory ("ximagesink"), "" for none.
std::string FactoryName(GstElement* element);

// True when the program shows its windows on an X display, where a native id is an X window the
// X sinks may draw in (elsewhere such an id would make Xlib end the process).
bool OnX11();

// Makes the element (a reference the caller owns, not floating) and checks it can reach READY:
// an X sink needs the display, xvimagesink an Xv adaptor, a sound sink its device. Null when not.
GstElement* MakeReadySink(const char* factory, const char* name);

// A sink named by the environment plays in real time as the display and sound card do
// (fakesink alone would run the clip as fast as it decodes).
void PlayInRealTime(GstElement* sink);

// Video sink: the one VANTREL_VIDEO_SINK names, else (with a window to draw in) xvimagesink where
// the X server offers Xv and ximagesink where it does not, else a fakesink in real time. The
// caller owns the reference.
GstElement* MakeVideoSink(const char* name, bool haveWindow);

// Audio sink: the one VANTREL_AUDIO_SINK names, else the system's, else a fakesink in real time.
GstElement* MakeAudioSink(const char* name);

// True for a sink that draws pictures at their own size, centred in its window (ximagesink):
// the picture must be scaled to the window in the pipeline.
bool SinkNeedsScaling(GstElement* sink);

// What the opening of one clip learnt on the streaming threads.
struct ClipCheck {
  std::mutex lock;
  bool requireAsf = true;  // refuse content other than ASF at once
  bool typeSeen = false;
  bool isAsf = false;
  GstPad* demuxerPad = nullptr;  // sink pad of the demuxer, whose reading task is watched
  gulong deepAddedId = 0;
  GstElement* watched = nullptr;  // the bin deep-element-added is connected on

  bool IsAsf() {
    std::lock_guard<std::mutex> guard(lock);
    return isAsf;
  }
  // Disconnects from the bin and drops the pad; the check may be used again.
  void Reset();
};

// Watches a decodebin or uridecodebin inside `pipeline`: with check->requireAsf only ASF
// content goes on (anything else posts an error at once), and the demuxer's reading task is
// noted for WaitForPreroll. The check must outlive the signals (Reset, or the pipeline's end).
void WatchDecoder(GstElement* decoder, GstElement* pipeline, ClipCheck* check);

// Waits for the pipeline (already set to PAUSED and answering ASYNC) to preroll: true once it
// did; false on an error, when the demuxer stopped without anything prerolling, or after
// `timeout`. Each failure is logged (level 4) with `what`.
bool WaitForPreroll(GstElement* pipeline, GstBus* bus, ClipCheck* check, const std::string& what,
                    GstClockTime timeout = 5 * GST_SECOND);

// Result of a popped message for a host that polls its bus.
enum class BusEvent { kNone, kEnd, kError };
// Classifies one message; an error's text goes to *text when asked.
BusEvent Classify(GstMessage* msg, std::string* text = nullptr);

// Decoded output of one kind: its elements are held (not floating) until Release, in the
// pipeline or not; the first takes the decoder's pad, the last is the sink.
struct Branch {
  static constexpr int kMax = 5;
  GstElement* elems[kMax] = {};
  int count = 0;
  bool linked = false;

  GstElement* First() const { return count > 0 ? elems[0] : nullptr; }
  GstElement* Sink() const { return count > 0 ? elems[count - 1] : nullptr; }
  // Appends an element (taken over; null marks the branch incomplete).
  bool Add(GstElement* element);
  // Appends a new element of `factory` named `name` (null for a generated name).
  bool Make(const char* factory, const char* name = nullptr);
  bool Complete() const;
  // Puts the elements into `bin`, links them and the pad to the first, syncs their states.
  bool LinkTo(GstElement* bin, GstPad* pad);
  // Out of any bin, to NULL, released.
  void Release();
};

// A stream nobody shows (a second sound track, or anything of a file that is no clip) is consumed
// without holding up the preroll. With `keepPace` its sink takes each buffer at its time on the
// clock, as the shown streams' sinks do: a sink that swallows its stream as fast as it decodes
// would answer the pipeline's position with a time near the clip's end.
void LinkToDiscard(GstElement* pipeline, GstPad* pad, bool keepPace = true);

// The position of what is shown or heard: the largest one among `sinks` (nulls skipped) that
// answers, in ns; false when none does. The pipeline's own answer would be the largest of all its
// sinks, a discarding one included.
bool ShownPosition(std::initializer_list<GstElement*> sinks, gint64* ns);

// The media kind of a decoder pad: "video/x-raw", "audio/x-raw", ... ("" when unknown).
std::string PadKind(GstPad* pad);

}  // namespace media
