// Playback of one clip through the library's one GStreamer pipeline:
//   <source: uridecodebin "ASF Reader" | "Source1">
//       ! videoconvert ! videoscale ! capsfilter ! "VMR9" (the clip window's renderer)
//       ! audioconvert ! audioresample ! volume ! "Audio Renderer"
// The branches are linked when the source offers its decoded pads; the bus is popped when the
// host polls (plyHandleEvent), while a sync handler notes the end of the clip or an error at
// once, so that plyIsPlaying turns FALSE before the host looks at the events.
#include <gst/video/videooverlay.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "DbgLog.h"
#include "Engine.h"
#include "HeaderSanity.h"
#include "PlaybackState.h"
#include "WinTypes.h"

namespace plyex {

namespace {

constexpr GstClockTime kStateWait = 100 * GST_MSECOND;
constexpr GstClockTime kPrerollTimeout = 5 * GST_SECOND;
constexpr int64_t kCnsPerMsL = 10000;  // 100-ns units per millisecond
constexpr int64_t kNsPerCns = 100;     // nanoseconds per 100-ns unit

// Notes the end of the clip or an error at once, and keeps on the bus only what a host polling
// it now and then needs: a host that never polls must not make the queue grow with every state
// change, quality report or tag of a long clip.
GstBusSyncReply OnBusSync(GstBus*, GstMessage* msg, gpointer) {
  if (media::Classify(msg) != media::BusEvent::kNone) State().ended = true;
  switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_ELEMENT:
    case GST_MESSAGE_APPLICATION:
      return GST_BUS_PASS;
    default:
      gst_message_unref(msg);
      return GST_BUS_DROP;
  }
}

// The graph's state: 0 stopped, 1 paused, 2 running, -1 without control.
int GraphState() {
  PlaybackState& s = State();
  if (!s.haveControl || s.graph == nullptr) return kPlyStateNone;
  GstState state = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  const GstStateChangeReturn ret = gst_element_get_state(s.graph, &state, &pending, kStateWait);
  if (ret == GST_STATE_CHANGE_FAILURE) return kPlyStateNone;
  // A change still under way counts as the state it goes to.
  if (ret == GST_STATE_CHANGE_ASYNC && pending != GST_STATE_VOID_PENDING) state = pending;
  switch (state) {
    case GST_STATE_NULL:
    case GST_STATE_READY:
      return kPlyStateStopped;
    case GST_STATE_PAUSED:
      return kPlyStatePaused;
    case GST_STATE_PLAYING:
      return kPlyStateRunning;
    default:
      return kPlyStateNone;
  }
}

HRESULT SetGraphState(GstState state) {
  PlaybackState& s = State();
  if (!s.haveControl || s.graph == nullptr) return E_FAIL;
  return gst_element_set_state(s.graph, state) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

void ReleaseSource() {
  PlaybackState& s = State();
  s.check.Reset();
  if (s.source == nullptr) return;
  gst_element_set_state(s.source, GST_STATE_NULL);
  if (s.graph != nullptr && GST_OBJECT_PARENT(s.source) == GST_OBJECT(s.graph))
    gst_bin_remove(GST_BIN(s.graph), s.source);
  gst_object_unref(s.source);
  s.source = nullptr;
}

void ReleaseRenderer() {
  PlaybackState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.videoBranch.Release();
  if (s.vmr != nullptr) {
    gst_element_set_state(s.vmr, GST_STATE_NULL);
    gst_object_unref(s.vmr);
  }
  s.vmr = nullptr;
  s.sizeFilter = nullptr;
  s.vmrScales = false;
  s.haveWindowless = false;
  s.haveMonitorConfig = false;
}

void ReleaseAudio() {
  PlaybackState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.audioBranch.Release();
  s.volumeElement = nullptr;
}

// The video branch in front of `sink`: conversion, then scaling to the video rectangle where the
// sink cannot scale by itself. The sink's reference stays with the caller as well.
void BuildVideoBranch(GstElement* sink) {
  PlaybackState& s = State();
  s.videoBranch.Release();
  s.videoBranch.Make("videoconvert", "Video Converter");
  s.videoBranch.Make("videoscale", "Video Resizer");
  s.videoBranch.Make("capsfilter", "Video Size");
  s.videoBranch.Add(GST_ELEMENT(gst_object_ref(sink)));
  s.sizeFilter = s.videoBranch.elems[2];
  // Letter-box: the picture keeps its shape inside the rectangle, black bands around it.
  if (s.videoBranch.elems[1] != nullptr)
    g_object_set(s.videoBranch.elems[1], "add-borders", TRUE, nullptr);
}

void BuildAudioBranch() {
  PlaybackState& s = State();
  s.audioBranch.Release();
  s.audioBranch.Make("audioconvert", "Audio Converter");
  s.audioBranch.Make("audioresample", "Audio Resampler");
  s.audioBranch.Make("volume", "Audio Volume");
  s.audioBranch.Add(media::MakeAudioSink("Audio Renderer"));
  s.volumeElement = s.audioBranch.elems[2];
}

bool IsXSink(GstElement* sink) {
  const std::string name = media::FactoryName(sink);
  return name == "ximagesink" || name == "xvimagesink";
}

// Hands the renderer the window it draws in: a child of the clip window at the video rectangle.
void AttachRenderer() {
  PlaybackState& s = State();
  if (s.vmr == nullptr || !GST_IS_VIDEO_OVERLAY(s.vmr)) return;
  if (!IsXSink(s.vmr) || s.clipWnd == 0) return;
  bool child = false;
  const uintptr_t window =
      PlaceVideoWindow(s.clipWnd, s.haveVideoRect ? &s.videoRect : nullptr, &child);
  if (window == 0) return;
  gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(s.vmr), window);
  // The sink draws in the new window from now on: the one of a former clip window can go.
  DropRetiredVideoWindow();
  if (!child && s.haveVideoRect) {
    const RECT& r = s.videoRect;
    gst_video_overlay_set_render_rectangle(GST_VIDEO_OVERLAY(s.vmr), r.left, r.top,
                                           r.right - r.left, r.bottom - r.top);
  }
}

// A new picture size waiting for the scaler to be between two pictures.
struct SizeChange {
  GstElement* filter;
  GstCaps* caps;
  std::atomic<bool> done{false};
};

GstPadProbeReturn SetSizeBeforePicture(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* change = static_cast<SizeChange*>(data);
  if (change->done.exchange(true)) return GST_PAD_PROBE_REMOVE;
  // On the streaming thread, with the next picture about to enter the scaler: the filter asks
  // the scaler to renegotiate, which it does before that picture leaves it. Changed from another
  // thread, a picture inside the scaler (or a converter negotiating) meets the new size half way
  // and the playback ends as not negotiated.
  g_object_set(change->filter, "caps", change->caps, nullptr);
  return GST_PAD_PROBE_REMOVE;
}

void FreeSizeChange(gpointer data) {
  auto* change = static_cast<SizeChange*>(data);
  gst_object_unref(change->filter);
  gst_caps_unref(change->caps);
  delete change;
}

// The size the pipeline scales the picture to, for a sink that shows pictures at their own size.
void ApplyScaledSize() {
  PlaybackState& s = State();
  if (s.sizeFilter == nullptr) return;
  const int width = s.videoRect.right - s.videoRect.left;
  const int height = s.videoRect.bottom - s.videoRect.top;
  GstCaps* caps = nullptr;
  if (s.vmrScales && s.haveVideoRect && width > 0 && height > 0)
    caps = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                               height, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
  else
    caps = gst_caps_new_any();
  // The size changes on the pad that feeds the scaler, as the next picture passes it.
  GstElement* scaler = s.videoBranch.elems[1];
  GstPad* scalerIn = scaler != nullptr ? gst_element_get_static_pad(scaler, "sink") : nullptr;
  GstPad* feed = scalerIn != nullptr ? gst_pad_get_peer(scalerIn) : nullptr;
  if (scalerIn != nullptr) gst_object_unref(scalerIn);
  if (feed == nullptr) {
    g_object_set(s.sizeFilter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    return;
  }
  auto* change = new SizeChange{GST_ELEMENT(gst_object_ref(s.sizeFilter)), caps};
  gst_pad_add_probe(
      feed,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
      SetSizeBeforePicture, change, FreeSizeChange);
  gst_object_unref(feed);
}

// Pads of the clip's source: the first video stream goes to the renderer, the first sound
// stream to the audio branch, anything else is consumed unseen.
void OnSourcePad(GstElement*, GstPad* pad, gpointer) {
  PlaybackState& s = State();
  const std::string kind = media::PadKind(pad);
  std::lock_guard<std::mutex> guard(s.lock);
  media::Branch* branch = nullptr;
  if (kind.rfind("video/", 0) == 0) branch = &s.videoBranch;
  if (kind.rfind("audio/", 0) == 0) branch = &s.audioBranch;
  if (branch == nullptr || branch->linked || !branch->Complete()) {
    media::LinkToDiscard(s.graph, pad);
    return;
  }
  if (!branch->LinkTo(s.graph, pad))
    DbgLog(1, 4, "Failed to link the decoded %s stream\n", kind.c_str());
}

// Whether the graph can seek to absolute positions (known once it prerolled).
bool QuerySeekable() {
  PlaybackState& s = State();
  GstQuery* query = gst_query_new_seeking(GST_FORMAT_TIME);
  bool known = false;
  gboolean seekable = FALSE;
  if (gst_element_query(s.graph, query)) {
    gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    known = true;
  }
  gst_query_unref(query);
  s.seekable = seekable ? TRUE : FALSE;
  s.seekableKnown = known;
  return s.seekable;
}

// Whether a video rectangle fills the whole screen, which the saved rectangle never takes: the
// screen is the given monitor, else the one that holds the clip window (the primary one when the
// window is unknown).
bool IsWholeScreen(const RECT& r, const RECT* known) {
  RECT monitor{};
  if (known != nullptr)
    monitor = *known;
  else if (!MonitorOfWindow(State().clipWnd, &monitor))
    monitor = State().monitors[0];
  return r.right - r.left == monitor.right - monitor.left &&
         r.bottom - r.top == monitor.bottom - monitor.top;
}

void ReleaseControls() {
  PlaybackState& s = State();
  s.haveControl = false;
  s.haveSeeking = false;
  s.haveAudio = false;
  s.haveEvents = false;
  s.seekable = FALSE;
  s.seekableKnown = false;
}

}  // namespace

PlaybackState& State() {
  static PlaybackState state;
  return state;
}

GstElement* Graph() {
  return State().graph;
}

bool IsWindowsMediaPath(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find(".wmv") != std::string::npos || lower.find(".qmv") != std::string::npos ||
         lower.find("http:") != std::string::npos;
}

GstElement* AddClipSource(const std::string& path) {
  PlaybackState& s = State();
  if (s.graph == nullptr) {
    DbgLog(1, 4, "No graph to add the source of %s to\n", path.c_str());
    return nullptr;
  }
  ReleaseSource();
  const bool windowsMedia = IsWindowsMediaPath(path);
  GstElement* source =
      gst_element_factory_make("uridecodebin", windowsMedia ? "ASF Reader" : "Source1");
  if (source == nullptr) {
    if (windowsMedia) DbgLog(0, -1, "Failed to create WMAsfReader\n");
    return nullptr;
  }
  gst_object_ref_sink(source);
  if (!gst_bin_add(GST_BIN(s.graph), source)) {
    if (windowsMedia) DbgLog(0, -1, "Failed to Add ASFReader filter to the graph\n");
    gst_object_unref(source);
    return nullptr;
  }
  s.source = source;
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "uri") == nullptr) {
    if (windowsMedia) DbgLog(0, -1, "Failed to QI file source filter\n");
    ReleaseSource();
    return nullptr;
  }

  // A URL goes as it is; a file must exist and becomes a file URI.
  std::string uri;
  if (gst_uri_is_valid(path.c_str()) && path.find("://") != std::string::npos) {
    uri = path;
  } else {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      gchar* fileUri = gst_filename_to_uri(path.c_str(), nullptr);
      if (fileUri != nullptr) uri = fileUri;
      g_free(fileUri);
    }
  }
  if (uri.empty()) {
    if (windowsMedia) DbgLog(0, -1, "Failed to load Url\n");
    DbgLog(1, 4, "Failed to find the clip %s\n", path.c_str());
    ReleaseSource();
    return nullptr;
  }
  g_object_set(source, "uri", uri.c_str(), nullptr);
  // Only ASF goes through the Windows Media source; the generic one takes any content.
  s.check.requireAsf = windowsMedia;
  media::WatchDecoder(source, s.graph, &s.check);
  return source;
}

GstPad* GetOutPin(GstElement* filter, const char* major) {
  if (filter == nullptr) {
    DbgLog(0, -1, "GetOutPin::Source Filter = NULL\n");
    return nullptr;
  }
  const std::string prefix = std::string(major) + "/";
  GstPad* found = nullptr;
  GstIterator* it = gst_element_iterate_src_pads(filter);
  GValue item = G_VALUE_INIT;
  bool done = false;
  while (!done && found == nullptr) {
    switch (gst_iterator_next(it, &item)) {
      case GST_ITERATOR_OK: {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (media::PadKind(pad).rfind(prefix, 0) == 0) found = GST_PAD(gst_object_ref(pad));
        g_value_reset(&item);
        break;
      }
      case GST_ITERATOR_RESYNC:
        gst_iterator_resync(it);
        break;
      default:
        done = true;
        break;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return found;
}

HRESULT PrerollGraph() {
  PlaybackState& s = State();
  if (s.graph == nullptr) return E_FAIL;
  const GstStateChangeReturn change = gst_element_set_state(s.graph, GST_STATE_PAUSED);
  const bool ready = change == GST_STATE_CHANGE_SUCCESS || change == GST_STATE_CHANGE_NO_PREROLL ||
                     (change == GST_STATE_CHANGE_ASYNC &&
                      media::WaitForPreroll(s.graph, s.bus, &s.check, s.url, kPrerollTimeout));
  return ready ? S_OK : NS_E_FILE_OPEN_FAILED;
}

HRESULT AcquireGraphControls() {
  PlaybackState& s = State();
  ReleaseControls();
  if (s.graph == nullptr) return E_FAIL;
  s.ended = false;
  s.haveSeeking = true;
  QuerySeekable();
  s.haveControl = true;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.haveAudio = s.volumeElement != nullptr && s.audioBranch.linked;
  }
  s.haveEvents = s.bus != nullptr;
  return s.haveEvents ? S_OK : E_FAIL;
}

}  // namespace plyex

using namespace plyex;

QMVPLYEX_API HRESULT plyInit(void) {
  PlaybackState& s = State();
  // A graph left from before is released rather than lost.
  if (s.graph != nullptr) plyCleanUp();
  ReleaseControls();
  s.clipWnd = 0;
  s.fatherWnd = 0;
  s.videoRect = RECT{};
  s.haveVideoRect = false;
  s.savedVideo = RECT{};
  s.chosenMonitor = 0;
  s.rate = 1.0;
  s.volume = 0;
  s.ended = false;
  if (!media::InitGStreamer()) {
    DbgLog(0, -1, "Failed to create CaptureGraphBuilder2\n");
    return E_FAIL;
  }
  GstElement* graph = gst_pipeline_new("Filter Graph");
  if (graph == nullptr) {
    DbgLog(0, -1, "Failed to create GraphBuilder\n");
    return E_FAIL;
  }
  s.graph = GST_ELEMENT(gst_object_ref_sink(graph));
  s.bus = gst_element_get_bus(s.graph);
  gst_bus_set_sync_handler(s.bus, OnBusSync, nullptr, nullptr);
  return S_OK;
}

QMVPLYEX_API HRESULT plyUseVMR(void) {
  PlaybackState& s = State();
  ReleaseRenderer();
  if (s.graph == nullptr) {
    DbgLog(0, -1, "Failed to create Vmr9\n");
    return E_FAIL;
  }
  GstElement* sink = media::MakeVideoSink("VMR9", media::OnX11());
  if (sink == nullptr) {
    DbgLog(0, -1, "Failed to create Vmr9\n");
    return E_FAIL;
  }
  // The program handles input on its windows; the sink only draws.
  if (IsXSink(sink)) g_object_set(sink, "handle-events", FALSE, nullptr);
  std::lock_guard<std::mutex> guard(s.lock);
  s.vmr = sink;
  s.vmrScales = media::SinkNeedsScaling(sink);
  BuildVideoBranch(sink);
  s.haveWindowless = true;
  RECT table[kMaxMonitors]{};
  const int count = ReadMonitors(table, kMaxMonitors);
  if (count > 0) {
    s.nMonitors = count;
    std::copy(table, table + count, s.monitors);
  }
  s.haveMonitorConfig = true;
  return S_OK;
}

QMVPLYEX_API HRESULT SetClipWnd(HWND window) {
  PlaybackState& s = State();
  s.clipWnd = window;
  // A clip that plays already moves to the new window before the old child window goes.
  if (s.vmr != nullptr && s.source != nullptr) AttachRenderer();
  if (s.source == nullptr) DropVideoWindow();
  return S_OK;
}

QMVPLYEX_API HWND SetFatherWnd(HWND window) {
  State().fatherWnd = window;
  return window;
}

QMVPLYEX_API int SetUrl(const char* path) {
  State().url = path != nullptr ? path : "";
  return 1;
}

QMVPLYEX_API HRESULT plyPlyUrl(const char* path) {
  PlaybackState& s = State();
  s.url = path != nullptr ? path : "";
  if (s.graph == nullptr) return E_FAIL;
  ReleaseControls();
  // A clip loaded before on this graph goes first.
  gst_element_set_state(s.graph, GST_STATE_NULL);
  ReleaseSource();
  ReleaseAudio();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.vmr != nullptr) {
      // The renderer leaves the graph with its branch and is put in front again.
      s.videoBranch.Release();
      BuildVideoBranch(s.vmr);
    } else {
      // Without the clip window's renderer, the pictures go to a renderer of their own.
      GstElement* sink = media::MakeVideoSink("Video Renderer", false);
      if (sink != nullptr) {
        BuildVideoBranch(sink);
        gst_object_unref(sink);
      }
    }
    BuildAudioBranch();
  }
  ApplyScaledSize();
  gst_bus_set_flushing(s.bus, TRUE);
  gst_bus_set_flushing(s.bus, FALSE);

  const bool windowsMedia = IsWindowsMediaPath(s.url);
  GstElement* source = AddClipSource(s.url);
  if (source == nullptr) return NS_E_FILE_OPEN_FAILED;
  g_signal_connect(source, "pad-added", G_CALLBACK(OnSourcePad), nullptr);
  AttachRenderer();

  // Preroll: the first picture is shown, and damaged or foreign files fail here.
  HRESULT hr = PrerollGraph();
  bool linked = false;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    linked = s.videoBranch.linked || s.audioBranch.linked;
  }
  if (SUCCEEDED(hr) && !linked) {
    DbgLog(1, 4, "Nothing to play in %s\n", s.url.c_str());
    hr = NS_E_FILE_OPEN_FAILED;
  }
  if (FAILED(hr)) {
    if (windowsMedia) DbgLog(0, -1, "Failed to load Url\n");
    gst_element_set_state(s.graph, GST_STATE_NULL);
    ReleaseSource();
    ReleaseAudio();
    std::lock_guard<std::mutex> guard(s.lock);
    s.videoBranch.Release();
    if (s.vmr != nullptr) BuildVideoBranch(s.vmr);
    return hr;
  }
  return AcquireGraphControls();
}

QMVPLYEX_API void SetMv(int left, int top, int width, int height) {
  SetMvRect(RECT{left, top, left + width, top + height});
}

QMVPLYEX_API void SetMvRect(RECT rect) {
  SetVideoRect(rect, nullptr);
}

namespace plyex {

void SetVideoRect(const RECT& rect, const RECT* monitor) {
  PlaybackState& s = State();
  if (!s.haveWindowless) return;
  s.videoRect = rect;
  s.haveVideoRect = true;
  if (!IsWholeScreen(rect, monitor)) s.savedVideo = rect;
  DbgLog(0, 4, "Video rectangle %d, %d, %d, %d\n", rect.left, rect.top, rect.right, rect.bottom);
  ApplyScaledSize();
  if (s.source != nullptr) AttachRenderer();
  if (s.vmr != nullptr && GST_IS_VIDEO_OVERLAY(s.vmr) && s.source != nullptr)
    gst_video_overlay_expose(GST_VIDEO_OVERLAY(s.vmr));
}

}  // namespace plyex

QMVPLYEX_API HRESULT plyStart(void) {
  PlaybackState& s = State();
  if (!s.haveControl) return E_FAIL;
  if (GraphState() == kPlyStateRunning) return S_OK;
  return SetGraphState(GST_STATE_PLAYING);
}

QMVPLYEX_API HRESULT plyPause(void) {
  return SetGraphState(GST_STATE_PAUSED);
}

QMVPLYEX_API HRESULT plyStop(void) {
  return SetGraphState(GST_STATE_READY);
}

QMVPLYEX_API BOOL plyIsPlaying(void) {
  PlaybackState& s = State();
  if (s.ended) return FALSE;
  return GraphState() == kPlyStateRunning ? TRUE : FALSE;
}

QMVPLYEX_API void plyHandleEvent(void) {
  PlaybackState& s = State();
  if (!s.haveEvents || s.bus == nullptr) return;
  while (GstMessage* msg = gst_bus_pop(s.bus)) {
    std::string text;
    const media::BusEvent event = media::Classify(msg, &text);
    gst_message_unref(msg);
    if (event == media::BusEvent::kError) DbgLog(1, 4, "Playback stopped: %s\n", text.c_str());
    if (event != media::BusEvent::kNone) {
      plyCleanUp();
      return;
    }
  }
}

QMVPLYEX_API void plyCleanUp(void) {
  PlaybackState& s = State();
  if (plyIsPlaying()) plyStop();
  s.haveEvents = false;
  if (s.graph != nullptr) {
    // Joins the streaming threads: no signal reaches the state after this.
    gst_element_set_state(s.graph, GST_STATE_NULL);
  }
  ReleaseTape();
  SetRecordingSink(nullptr);
  ReleaseSource();
  ReleaseAudio();
  ReleaseRenderer();
  if (s.graph != nullptr) {
    // Whatever else was added (discarding sinks, the tape's elements) leaves the graph.
    for (;;) {
      GList* children = GST_BIN_CHILDREN(GST_BIN(s.graph));
      if (children == nullptr) break;
      GstElement* child = GST_ELEMENT(children->data);
      gst_element_set_state(child, GST_STATE_NULL);
      gst_bin_remove(GST_BIN(s.graph), child);
    }
  }
  ReleaseControls();
  DropVideoWindow();
  if (s.bus != nullptr) {
    gst_bus_set_sync_handler(s.bus, nullptr, nullptr, nullptr);
    gst_bus_set_flushing(s.bus, TRUE);
    gst_object_unref(s.bus);
    s.bus = nullptr;
  }
  if (s.graph != nullptr) gst_object_unref(s.graph);
  s.graph = nullptr;
  s.ended = false;
}

namespace plyex {
namespace {

// The position of what the graph shows, hears or records, in ns: a sink that discards a stream
// is not asked. The graph's own answer only while none of them knows one.
bool ShownPositionNs(gint64* ns) {
  PlaybackState& s = State();
  GstElement* sinks[3] = {};
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.videoBranch.linked && s.videoBranch.Sink() != nullptr)
      sinks[0] = GST_ELEMENT(gst_object_ref(s.videoBranch.Sink()));
    if (s.audioBranch.linked && s.audioBranch.Sink() != nullptr)
      sinks[1] = GST_ELEMENT(gst_object_ref(s.audioBranch.Sink()));
    if (s.recordingSink != nullptr) sinks[2] = GST_ELEMENT(gst_object_ref(s.recordingSink));
  }
  const bool known = media::ShownPosition({sinks[0], sinks[1], sinks[2]}, ns) ||
                     (gst_element_query_position(s.graph, GST_FORMAT_TIME, ns) && *ns >= 0);
  for (GstElement* sink : sinks)
    if (sink != nullptr) gst_object_unref(sink);
  return known;
}

// The clip's length in ns, when the graph knows one the clip's bytes can hold: a damaged header
// may declare hours for a clip of seconds, and such a length is no length.
bool PlausibleDurationNs(gint64* ns) {
  PlaybackState& s = State();
  if (!gst_element_query_duration(s.graph, GST_FORMAT_TIME, ns) || *ns <= 0) return false;
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(s.url, ec);
  // A stream without a file (a URL) has no bytes to measure against.
  if (ec) return true;
  return *ns / kNsPerCns <= wm::MaxPlausibleLength(static_cast<int64_t>(bytes), 0);
}

// A time of the graph in ms, through 100-ns units: the low 32 bits, also stored in *ms. Without
// seeking 0, and *ms is left alone.
LONG QueryMs(bool (*query)(gint64*), LONG* ms) {
  PlaybackState& s = State();
  if (!s.haveSeeking || s.graph == nullptr) return 0;
  gint64 ns = 0;
  if (!query(&ns) || ns < 0) ns = 0;
  const int64_t cns = ns / kNsPerCns;
  const LONG value = static_cast<LONG>(static_cast<uint32_t>(cns * 100 / 1000000));
  if (ms != nullptr) *ms = value;
  return value;
}

}  // namespace

void SetRecordingSink(GstElement* sink) {
  PlaybackState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.recordingSink = sink;
}

}  // namespace plyex

QMVPLYEX_API LONG GetMvDuration(LONG* ms) {
  return plyex::QueryMs(plyex::PlausibleDurationNs, ms);
}

QMVPLYEX_API LONG GetMvCurPos(LONG* ms) {
  return plyex::QueryMs(plyex::ShownPositionNs, ms);
}

QMVPLYEX_API void SetMvCurPos(LONG ms) {
  PlaybackState& s = State();
  if (!s.haveSeeking || s.graph == nullptr) return;
  if (!s.seekableKnown) QuerySeekable();
  if (!s.seekable) return;
  const int64_t position = static_cast<int64_t>(std::max<LONG>(ms, 0)) * kCnsPerMsL;
  DbgLog(0, 4, "Seek to %lld\n", static_cast<long long>(position));
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (!gst_element_seek(s.graph, s.rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                        position * kNsPerCns, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE))
    DbgLog(1, 4, "Failed to seek to %d ms\n", ms);
}

QMVPLYEX_API HRESULT SetMvPlySpeed(double rate) {
  PlaybackState& s = State();
  if (!s.haveSeeking || s.graph == nullptr) return 0;
  if (!(rate > 0.0) || !std::isfinite(rate)) return E_INVALIDARG;
  gint64 ns = 0;
  if (!ShownPositionNs(&ns) || ns < 0) ns = 0;
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (!gst_element_seek(s.graph, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, ns,
                        GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE))
    return E_FAIL;
  s.rate = rate;
  return S_OK;
}

QMVPLYEX_API HRESULT SetAudioVol(LONG volume) {
  PlaybackState& s = State();
  if (!s.haveAudio || s.volumeElement == nullptr) return 0;
  if (volume < -10000 || volume > 0) return E_INVALIDARG;
  // Hundredths of a decibel onto a linear gain; the bottom of the range is silence.
  const double gain = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
  g_object_set(s.volumeElement, "volume", gain, nullptr);
  s.volume = volume;
  return S_OK;
}

QMVPLYEX_API HRESULT GetAudioVol(LONG* volume) {
  PlaybackState& s = State();
  if (!s.haveAudio || s.volumeElement == nullptr) return 0;
  if (volume == nullptr) return E_INVALIDARG;
  *volume = s.volume;
  return S_OK;
}

QMVPLYEX_API BOOL RepaintWnd(HWND, HDC) {
  PlaybackState& s = State();
  if (!s.haveWindowless || s.vmr == nullptr || !GST_IS_VIDEO_OVERLAY(s.vmr)) return FALSE;
  gst_video_overlay_expose(GST_VIDEO_OVERLAY(s.vmr));
  return TRUE;
}

QMVPLYEX_API const RECT* SetOutput(int index) {
  PlaybackState& s = State();
  if (!s.haveMonitorConfig || s.nMonitors < 2) return &s.monitors[0];
  if (index < 0) return &s.monitors[0];
  if (index >= s.nMonitors) return &s.monitors[s.nMonitors - 1];
  s.chosenMonitor = index;
  return &s.monitors[index];
}

QMVPLYEX_API BOOL SetFullScr(BOOL on, const POINT* origin) {
  PlaybackState& s = State();
  if (s.clipWnd == 0) return 0;
  const bool playing = plyIsPlaying() != FALSE;
  if (on) {
    const POINT at = origin != nullptr ? *origin : POINT{0, 0};
    RECT monitor{};
    if (!MonitorAt(at.x, at.y, &monitor)) monitor = s.monitors[0];
    const int width = monitor.right - monitor.left;
    const int height = monitor.bottom - monitor.top;
    const RECT target{at.x, at.y, at.x + width, at.y + height};
    // Going full screen again (on another monitor) keeps the window it came from.
    const bool moved = EnterFullScreen(s.clipWnd, target, !s.fullScreen);
    if (playing) SetVideoRect(RECT{0, 0, width, height}, &monitor);
    s.fullScreen = TRUE;
    return moved ? TRUE : FALSE;
  }
  const bool restored = LeaveFullScreen(s.clipWnd);
  if (playing) SetVideoRect(s.savedVideo, nullptr);
  s.fullScreen = FALSE;
  return restored ? TRUE : FALSE;
}

QMVPLYEX_API BOOL IsFullScr(void) {
  return State().fullScreen;
}

QMVPLYEX_API BOOL SwitchScr(void) {
  return SetFullScr(IsFullScr() ? FALSE : TRUE, nullptr);
}
