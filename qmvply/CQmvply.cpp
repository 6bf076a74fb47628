// The preview player over a GStreamer pipeline:
//   filesrc ! decodebin ! videoconvert ! videoscale ! <video sink>
//                       ! audioconvert ! audioresample ! <audio sink>
// The branches are linked when decodebin offers its pads, so a clip without sound (or without
// pictures) prerolls on the branch it has. The bus is popped by the report timer and while a clip
// opens; no GLib main loop runs. Sinks, the content check and the wait for the first picture are
// the media library's, shared with the playback engine.
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
#include <filesystem>
#include <mutex>
#include <string>

#include "DbgLog.h"
#include "Media.h"
#include "Messages.h"

namespace {

constexpr int kReportIntervalMs = 500;
// Opening a local clip takes a fraction of a second; this bounds it for damaged files.
constexpr GstClockTime kOpenTimeout = 5 * GST_SECOND;

// One opened clip. The streaming threads reach it through the decoder's signals while the
// pipeline runs, hence the lock.
struct Graph {
  GstElement* pipeline = nullptr;
  GstBus* bus = nullptr;
  media::Branch video;
  media::Branch audio;
  std::mutex lock;
  media::ClipCheck check;
};

// The branch elements; the sink is made by the caller and taken over.
bool BuildBranch(media::Branch* branch, const char* convert, const char* scale, GstElement* sink) {
  branch->Make(convert);
  branch->Make(scale);
  branch->Add(sink);
  return branch->Complete();
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* graph = static_cast<Graph*>(data);
  const std::string kind = media::PadKind(pad);
  const bool isAsf = graph->check.IsAsf();
  std::lock_guard<std::mutex> guard(graph->lock);
  media::Branch* branch = nullptr;
  if (isAsf) {
    if (kind.rfind("video/", 0) == 0) branch = &graph->video;
    if (kind.rfind("audio/", 0) == 0) branch = &graph->audio;
  }
  if (branch == nullptr || branch->linked || branch->Sink() == nullptr) {
    media::LinkToDiscard(graph->pipeline, pad);
    return;
  }
  if (!branch->LinkTo(graph->pipeline, pad))
    DbgLog(1, 4, "Failed to link the decoded %s stream\n", kind.c_str());
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
    if (!media::OnX11()) return 0;
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
  if (!media::InitGStreamer()) return E_FAIL;
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
  graph->check.requireAsf = true;
  media::WatchDecoder(decode, graph->pipeline, &graph->check);
  g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), graph);

  // Video sink: the one the environment names, else X video into the window, else none shown.
  const uintptr_t window = m_pState->DrawWindow();
  GstElement* videoSink = media::MakeVideoSink("VMR9", window != 0);
  if (videoSink != nullptr) {
    if (GST_IS_VIDEO_OVERLAY(videoSink) && window != 0)
      gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(videoSink), window);
    m_pState->videoSinkName = media::FactoryName(videoSink);
  }
  // Audio sink: the one the environment names, else the system's, else none heard.
  GstElement* audioSink = media::MakeAudioSink("Audio Renderer");

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
  const bool ready =
      change == GST_STATE_CHANGE_SUCCESS || change == GST_STATE_CHANGE_NO_PREROLL ||
      (change == GST_STATE_CHANGE_ASYNC &&
       media::WaitForPreroll(graph->pipeline, graph->bus, &graph->check, file, kOpenTimeout));
  bool playable = false;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    playable = graph->check.IsAsf() && (graph->video.linked || graph->audio.linked);
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
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return 0;
  // The shown and heard streams' sinks are asked, not one that discards a second sound track.
  GstElement* sinks[2] = {};
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    if (graph->video.linked) sinks[0] = GST_ELEMENT(gst_object_ref(graph->video.Sink()));
    if (graph->audio.linked) sinks[1] = GST_ELEMENT(gst_object_ref(graph->audio.Sink()));
  }
  gint64 ns = 0;
  const bool known = media::ShownPosition({sinks[0], sinks[1]}, &ns) ||
                     gst_element_query_position(graph->pipeline, GST_FORMAT_TIME, &ns);
  for (GstElement* sink : sinks)
    if (sink != nullptr) gst_object_unref(sink);
  if (!known || ns < 0) return 0;
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
    std::string text;
    const media::BusEvent event = media::Classify(msg, &text);
    if (event == media::BusEvent::kError) DbgLog(1, 4, "Preview stopped: %s\n", text.c_str());
    ended = ended || event != media::BusEvent::kNone;
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
  graph->check.Reset();
  graph->video.Release();
  graph->audio.Release();
  if (graph->bus != nullptr) gst_object_unref(graph->bus);
  if (graph->pipeline != nullptr) gst_object_unref(graph->pipeline);
  delete graph;
}
