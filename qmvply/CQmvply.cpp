// The preview player over a GStreamer pipeline:
//   filesrc ! decodebin ! videoconvert ! videoscale ! <video sink>
//                       ! audioconvert ! audioresample ! <audio sink>
// The branches are linked when decodebin offers its pads, so a clip without sound (or without
// pictures) prerolls on the branch it has. The bus is popped by the report timer and while a clip
// opens; no GLib main loop runs.
#include "CQmvply.h"

#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "DbgLog.h"
#include "Messages.h"

namespace {

constexpr int kReportIntervalMs = 500;
// Opening a local clip takes a fraction of a second; these bound it for damaged files.
constexpr GstClockTime kOpenTimeout = 5 * GST_SECOND;
constexpr GstClockTime kOpenPoll = 100 * GST_MSECOND;
constexpr GstClockTime kStallGrace = 1 * GST_SECOND;

// Decoded output of one kind: its first element takes decodebin's pad, its last is the sink.
// The elements are held by the player until the clip closes, in the pipeline or not.
struct Branch {
  GstElement* elems[3] = {nullptr, nullptr, nullptr};
  int count = 0;
  bool linked = false;

  GstElement* First() const { return elems[0]; }
  GstElement* Sink() const { return count > 0 ? elems[count - 1] : nullptr; }
};

// One opened clip. The streaming threads reach it through decodebin's and typefind's signals
// while the pipeline runs, hence the lock.
struct Graph {
  GstElement* pipeline = nullptr;
  GstBus* bus = nullptr;
  Branch video;
  Branch audio;
  std::mutex lock;
  bool typeSeen = false;
  bool isAsf = false;
  GstPad* demuxerPad = nullptr;  // sink pad of the demuxer, whose reading task is watched
};

bool HasProperty(GstElement* element, const char* name) {
  return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

// A sink named by the environment plays in real time like the display and the sound card do
// (fakesink alone would run the clip as fast as it decodes).
void PlayInRealTime(GstElement* sink) {
  if (HasProperty(sink, "sync")) g_object_set(sink, "sync", TRUE, nullptr);
}

// Makes the element and checks it can reach READY (an X sink needs the display, xvimagesink an
// Xv adaptor, a sound sink its device). Null when it cannot.
GstElement* MakeReadySink(const char* factory, const char* name) {
  GstElement* sink = gst_element_factory_make(factory, name);
  if (sink == nullptr) return nullptr;
  gst_object_ref_sink(sink);
  if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
    return nullptr;
  }
  return sink;
}

// Whether the X server offers Xv is asked once per process.
std::optional<bool> g_xvWorks;

GstElement* MakeXSink() {
  if (g_xvWorks.value_or(true)) {
    GstElement* sink = MakeReadySink("xvimagesink", "VMR9");
    g_xvWorks = sink != nullptr;
    if (sink != nullptr) return sink;
  }
  return MakeReadySink("ximagesink", "VMR9");
}

std::string FactoryName(GstElement* element) {
  GstElementFactory* factory = gst_element_get_factory(element);
  return factory != nullptr ? GST_OBJECT_NAME(factory) : "";
}

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The branch elements; the sink is made by the caller and taken over.
bool BuildBranch(Branch* branch, const char* convert, const char* scale, GstElement* sink) {
  branch->elems[0] = gst_element_factory_make(convert, nullptr);
  branch->elems[1] = gst_element_factory_make(scale, nullptr);
  branch->elems[2] = sink;
  branch->count = 3;
  bool ok = true;
  for (GstElement*& e : branch->elems) {
    if (e == nullptr) {
      ok = false;
      continue;
    }
    // Held by the branch whether or not the pipeline takes it.
    if (g_object_is_floating(e)) gst_object_ref_sink(e);
  }
  return ok;
}

void ReleaseBranch(Branch* branch) {
  for (GstElement*& e : branch->elems) {
    if (e == nullptr) continue;
    gst_element_set_state(e, GST_STATE_NULL);
    gst_object_unref(e);
    e = nullptr;
  }
  branch->count = 0;
  branch->linked = false;
}

// A stream the player does not show (a second sound track, or anything of a file that is no
// clip) is consumed without holding up the preroll.
void LinkToDiscard(GstElement* pipeline, GstPad* pad) {
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (sink == nullptr) return;
  g_object_set(sink, "async", FALSE, "sync", FALSE, nullptr);
  gst_bin_add(GST_BIN(pipeline), sink);
  gst_element_sync_state_with_parent(sink);
  GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
  gst_pad_link(pad, sinkPad);
  gst_object_unref(sinkPad);
}

// The first caps decodebin asks about are those of the file itself: only ASF goes on.
gboolean OnAutoplugContinue(GstElement* decode, GstPad*, GstCaps* caps, gpointer data) {
  auto* graph = static_cast<Graph*>(data);
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    if (graph->typeSeen) return TRUE;
    graph->typeSeen = true;
    graph->isAsf = caps != nullptr && gst_caps_get_size(caps) > 0 &&
                   gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-ms-asf");
    if (graph->isAsf) return TRUE;
  }
  // Ends the opening at once instead of waiting for whatever else the file would play as.
  GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE,
                                      "The file is not an ASF clip");
  gst_element_post_message(decode, gst_message_new_error(GST_OBJECT(decode), error, nullptr));
  g_error_free(error);
  return FALSE;
}

// Notes the demuxer decodebin plugs. decodebin swallows an error its new demuxer raises while it
// is still being set up (a clip cut inside its header does that), so the opening watches the
// demuxer's reading task instead.
void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
  auto* graph = static_cast<Graph*>(data);
  GstElementFactory* factory = gst_element_get_factory(element);
  const char* klass = factory != nullptr
                          ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                          : nullptr;
  if (klass == nullptr || std::strstr(klass, "Demux") == nullptr) return;
  std::lock_guard<std::mutex> guard(graph->lock);
  if (graph->demuxerPad == nullptr) graph->demuxerPad = gst_element_get_static_pad(element, "sink");
}

// A demuxer that pulls its data pauses its task at the end of the file or on an error.
bool DemuxerStopped(Graph* graph) {
  std::lock_guard<std::mutex> guard(graph->lock);
  return graph->demuxerPad != nullptr &&
         gst_pad_get_task_state(graph->demuxerPad) == GST_TASK_PAUSED;
}

// Waits for the first picture (and sound) to be ready. False on an error, when the demuxer stopped
// without anything prerolling, or after the time limit.
bool WaitForPreroll(Graph* graph, const std::string& file) {
  const GstClockTime start = gst_util_get_timestamp();
  GstClockTime stalledSince = GST_CLOCK_TIME_NONE;
  for (;;) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        graph->bus, kOpenPoll,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE));
    if (msg != nullptr) {
      if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError* err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        DbgLog(1, 4, "Failed to open %s: %s\n", file.c_str(), err != nullptr ? err->message : "");
        g_clear_error(&err);
        gst_message_unref(msg);
        return false;
      }
      const bool done = GST_MESSAGE_SRC(msg) == GST_OBJECT(graph->pipeline);
      gst_message_unref(msg);
      if (done) return true;
      continue;
    }
    const GstClockTime now = gst_util_get_timestamp();
    if (now - start > kOpenTimeout) {
      DbgLog(1, 4, "Timed out opening %s\n", file.c_str());
      return false;
    }
    if (!DemuxerStopped(graph)) {
      stalledSince = GST_CLOCK_TIME_NONE;
    } else if (stalledSince == GST_CLOCK_TIME_NONE) {
      stalledSince = now;
    } else if (now - stalledSince > kStallGrace) {
      DbgLog(1, 4, "Failed to open %s: the demuxer stopped before any picture\n", file.c_str());
      return false;
    }
  }
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* graph = static_cast<Graph*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  const char* kind = caps != nullptr && gst_caps_get_size(caps) > 0
                         ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                         : "";
  std::lock_guard<std::mutex> guard(graph->lock);
  Branch* branch = nullptr;
  if (graph->isAsf) {
    if (g_str_has_prefix(kind, "video/")) branch = &graph->video;
    if (g_str_has_prefix(kind, "audio/")) branch = &graph->audio;
  }
  if (caps != nullptr) gst_caps_unref(caps);
  if (branch == nullptr || branch->linked || branch->Sink() == nullptr) {
    LinkToDiscard(graph->pipeline, pad);
    return;
  }
  for (int i = 0; i < branch->count; ++i) gst_bin_add(GST_BIN(graph->pipeline), branch->elems[i]);
  bool ok = true;
  for (int i = 0; i + 1 < branch->count; ++i)
    ok = ok && gst_element_link(branch->elems[i], branch->elems[i + 1]);
  for (int i = branch->count - 1; i >= 0; --i) gst_element_sync_state_with_parent(branch->elems[i]);
  GstPad* sinkPad = gst_element_get_static_pad(branch->First(), "sink");
  ok = ok && gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
  gst_object_unref(sinkPad);
  branch->linked = ok;
  if (!ok) DbgLog(1, 4, "Failed to link the decoded %s stream\n", kind);
}

}  // namespace

struct QmvplyState {
  QPointer<QWidget> widget;
  bool haveWidget = false;
  uintptr_t nativeId = 0;
  bool initialised = false;
  CMsgWindow* notify = nullptr;
  QTimer* timer = nullptr;
  Graph* graph = nullptr;
  bool playing = false;
  std::string videoSinkName;

  // The window the X sinks may draw in: 0 when there is none, or when the program does not run
  // on an X display (a foreign id there would make Xlib end the process).
  uintptr_t DrawWindow() const {
    const bool x11 = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr
                         ? !EnvText("DISPLAY").empty()
                         : QGuiApplication::platformName() == QLatin1String("xcb");
    if (!x11) return 0;
    if (haveWidget) return widget.isNull() ? 0 : static_cast<uintptr_t>(widget->winId());
    return nativeId;
  }
};

CQmvply::CQmvply() : m_pState(new QmvplyState) {}

CQmvply::~CQmvply() {
  Exit();
  delete m_pState;
}

void CQmvply::SetVideoWnd(QWidget* wnd) {
  m_pState->widget = wnd;
  m_pState->haveWidget = wnd != nullptr;
}

void CQmvply::SetVideoWnd(uintptr_t nativeId) {
  m_pState->nativeId = nativeId;
}

HRESULT CQmvply::Init() {
  if (m_pState->initialised) return S_OK;
  static std::once_flag once;
  static bool gstReady = false;
  std::call_once(once, [] {
    GError* error = nullptr;
    gstReady = gst_init_check(nullptr, nullptr, &error);
    if (!gstReady) {
      DbgLog(1, 4, "Failed to start GStreamer: %s\n", error != nullptr ? error->message : "");
      g_clear_error(&error);
    }
  });
  if (!gstReady) return E_FAIL;
  m_pState->timer = new QTimer;
  m_pState->timer->setInterval(kReportIntervalMs);
  QObject::connect(m_pState->timer, &QTimer::timeout, [this] { OnTimer(); });
  m_pState->initialised = true;
  return S_OK;
}

void CQmvply::SetNotifyWnd(CMsgWindow* wnd) {
  m_pState->notify = wnd;
}

HRESULT CQmvply::Open(const wchar_t* path) {
  Close();
  if (!m_pState->initialised) return E_UNEXPECTED;
  if (path == nullptr || *path == L'\0') return E_INVALIDARG;
  const std::string file = QString::fromWCharArray(path).toStdString();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    DbgLog(1, 4, "Failed to find the clip %s\n", file.c_str());
    return NS_E_FILE_OPEN_FAILED;
  }

  auto* graph = new Graph;
  m_pState->graph = graph;
  graph->pipeline = gst_pipeline_new("Preview");
  gst_object_ref_sink(graph->pipeline);
  graph->bus = gst_element_get_bus(graph->pipeline);
  GstElement* source = gst_element_factory_make("filesrc", "Source1");
  GstElement* decode = gst_element_factory_make("decodebin", "ASF Reader");
  if (source == nullptr || decode == nullptr) {
    DbgLog(1, 4, "Failed to create the source elements\n");
    for (GstElement* e : {source, decode})
      if (e != nullptr) gst_object_unref(gst_object_ref_sink(e));
    Close();
    return E_FAIL;
  }
  g_object_set(source, "location", file.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(graph->pipeline), source, decode, nullptr);
  gst_element_link(source, decode);
  g_signal_connect(decode, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), graph);
  g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), graph);
  g_signal_connect(graph->pipeline, "deep-element-added", G_CALLBACK(OnDeepElementAdded), graph);

  // Video sink: the one the environment names, else X video into the window, else none shown.
  const uintptr_t window = m_pState->DrawWindow();
  const std::string videoEnv = EnvText("VANTREL_VIDEO_SINK");
  GstElement* videoSink = nullptr;
  if (!videoEnv.empty()) {
    videoSink = MakeReadySink(videoEnv.c_str(), "VMR9");
    if (videoSink == nullptr) DbgLog(1, 4, "Failed to create video sink %s\n", videoEnv.c_str());
  }
  if (videoSink == nullptr && window != 0) videoSink = MakeXSink();
  if (videoSink == nullptr) videoSink = MakeReadySink("fakesink", "VMR9");
  if (videoSink != nullptr) {
    if (GST_IS_VIDEO_OVERLAY(videoSink) && window != 0)
      gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(videoSink), window);
    m_pState->videoSinkName = FactoryName(videoSink);
    if (!videoEnv.empty() || m_pState->videoSinkName == "fakesink") PlayInRealTime(videoSink);
  }

  // Audio sink: the one the environment names, else the system's, else none heard.
  const std::string audioEnv = EnvText("VANTREL_AUDIO_SINK");
  GstElement* audioSink =
      MakeReadySink(audioEnv.empty() ? "autoaudiosink" : audioEnv.c_str(), "Audio Renderer");
  if (audioSink == nullptr) {
    DbgLog(1, 4, "Failed to create audio sink, the preview plays without sound\n");
    audioSink = MakeReadySink("fakesink", "Audio Renderer");
  }
  if (audioSink != nullptr && (!audioEnv.empty() || FactoryName(audioSink) == "fakesink"))
    PlayInRealTime(audioSink);

  // Both branches take their sink over, so that Close releases them whatever failed.
  const bool videoBuilt = BuildBranch(&graph->video, "videoconvert", "videoscale", videoSink);
  const bool audioBuilt = BuildBranch(&graph->audio, "audioconvert", "audioresample", audioSink);
  if (!videoBuilt || !audioBuilt) {
    DbgLog(1, 4, "Failed to create the decoding elements\n");
    Close();
    return E_FAIL;
  }

  // Preroll: the first picture is shown, and damaged or foreign files fail here.
  const GstStateChangeReturn change = gst_element_set_state(graph->pipeline, GST_STATE_PAUSED);
  const bool ready = change == GST_STATE_CHANGE_SUCCESS || change == GST_STATE_CHANGE_NO_PREROLL ||
                     (change == GST_STATE_CHANGE_ASYNC && WaitForPreroll(graph, file));
  bool playable = false;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    playable = graph->isAsf && (graph->video.linked || graph->audio.linked);
  }
  if (!ready || !playable) {
    if (ready) DbgLog(1, 4, "Nothing to play in %s\n", file.c_str());
    Close();
    return NS_E_FILE_OPEN_FAILED;
  }
  return S_OK;
}

HRESULT CQmvply::Start(uint64_t startPos) {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return E_FAIL;
  // 100-ns units to ns; a position past any clip's end simply ends the playback.
  const uint64_t limit = static_cast<uint64_t>(G_MAXINT64) / 100;
  const gint64 ns = static_cast<gint64>(startPos > limit ? limit : startPos) * 100;
  if (startPos != 0 || m_pState->playing) {
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek_simple(graph->pipeline, GST_FORMAT_TIME, flags, ns))
      DbgLog(1, 4, "Failed to seek to %lld ms\n", static_cast<long long>(ns / GST_MSECOND));
  }
  if (gst_element_set_state(graph->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    DbgLog(1, 4, "Failed to start playing\n");
    Close();
    return E_FAIL;
  }
  m_pState->playing = true;
  if (m_pState->timer != nullptr) m_pState->timer->start();
  return S_OK;
}

HRESULT CQmvply::Stop() {
  Close();
  return S_OK;
}

HRESULT CQmvply::Exit() {
  Close();
  delete m_pState->timer;
  m_pState->timer = nullptr;
  m_pState->notify = nullptr;
  m_pState->initialised = false;
  return S_OK;
}

bool CQmvply::IsOpen() const {
  return m_pState->graph != nullptr;
}

bool CQmvply::IsPlaying() const {
  return m_pState->playing;
}

int32_t CQmvply::GetPosition() const {
  gint64 ns = 0;
  if (m_pState->graph == nullptr ||
      !gst_element_query_position(m_pState->graph->pipeline, GST_FORMAT_TIME, &ns) || ns < 0)
    return 0;
  return static_cast<int32_t>(ns / GST_MSECOND);
}

const char* CQmvply::GetVideoSinkName() const {
  return m_pState->graph != nullptr ? m_pState->videoSinkName.c_str() : "";
}

void CQmvply::OnTimer() {
  Graph* graph = m_pState->graph;
  if (graph == nullptr || !m_pState->playing) {
    if (m_pState->timer != nullptr) m_pState->timer->stop();
    return;
  }
  bool ended = false;
  while (GstMessage* msg = gst_bus_pop(graph->bus)) {
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) ended = true;
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
      GError* err = nullptr;
      gst_message_parse_error(msg, &err, nullptr);
      DbgLog(1, 4, "Preview stopped: %s\n", err != nullptr ? err->message : "");
      g_clear_error(&err);
      ended = true;
    }
    gst_message_unref(msg);
  }
  // The post comes last: a receiver that handles it at once may call back into the player.
  CMsgWindow* notify = m_pState->notify;
  if (ended) {
    Close();
    if (notify != nullptr) notify->PostMsg(WM_PREVIEW_NOTIFY, 0, 0);
    return;
  }
  const int32_t position = GetPosition();
  if (notify != nullptr) notify->PostMsg(WM_PREVIEW_NOTIFY, 1, position);
}

void CQmvply::Close() {
  if (m_pState->timer != nullptr) m_pState->timer->stop();
  m_pState->playing = false;
  m_pState->videoSinkName.clear();
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return;
  m_pState->graph = nullptr;
  // Joins the streaming threads: no signal reaches the graph after this.
  if (graph->pipeline != nullptr) gst_element_set_state(graph->pipeline, GST_STATE_NULL);
  if (graph->bus != nullptr) gst_object_unref(graph->bus);
  if (graph->pipeline != nullptr) gst_object_unref(graph->pipeline);
  if (graph->demuxerPad != nullptr) gst_object_unref(graph->demuxerPad);
  ReleaseBranch(&graph->video);
  ReleaseBranch(&graph->audio);
  delete graph;
}
