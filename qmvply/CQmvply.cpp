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
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DbgLog.h"
#include "Media.h"
#include "Messages.h"

namespace {

constexpr int kReportIntervalMs = 500;
// Opening a local clip takes a fraction of a second; this bounds it for damaged files.
constexpr GstClockTime kOpenTimeout = 5 * GST_SECOND;

// One opened clip. The streaming threads reach it through the decoder's signals and the sinks'
// probes while the pipeline runs, hence the lock.
struct Graph {
  GstElement* pipeline = nullptr;
  GstBus* bus = nullptr;
  media::Branch video;
  media::Branch audio;
  std::mutex lock;
  media::ClipCheck check;
  // Ranges of StartRanges and the sequence number of the seek that asked for each (0 before),
  // under the lock; which range the segment that reached each sink last belongs to.
  std::vector<QmvplyRange> ranges;
  std::vector<uint32_t> seqnums;
  std::atomic<int> videoRange{-1};
  std::atomic<int> audioRange{-1};
  // Segment starts moved by SeekStart: the picture clipped to one of them is of a ms before.
  std::vector<gint64> shiftedStarts;
};

// A segment reaching a sink comes after every buffer of the one before: from then on the sink
// plays the range whose seek made it.
GstPadProbeReturn OnSinkEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event == nullptr || GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
  auto* target = static_cast<std::pair<Graph*, std::atomic<int>*>*>(data);
  const uint32_t seqnum = gst_event_get_seqnum(event);
  std::lock_guard<std::mutex> guard(target->first->lock);
  const auto& seqnums = target->first->seqnums;
  for (size_t i = 0; i < seqnums.size(); ++i)
    if (seqnums[i] == seqnum) target->second->store(static_cast<int>(i));
  return GST_PAD_PROBE_OK;
}

// Whether a video sink draws the picture it prerolls on (the first one after a pause, a seek).
void ShowPrerollFrame(Graph* graph, bool show) {
  GstElement* sink = graph->video.Sink();
  if (sink != nullptr &&
      g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "show-preroll-frame"))
    g_object_set(sink, "show-preroll-frame", show ? TRUE : FALSE, nullptr);
}

// Where a seek to a position starts. The demuxer looks a start up in the clip's index one entry
// too early when it lies exactly on a key frame (a cut's real start, the cursor on a key frame),
// and would decode the whole group of pictures before it. A millisecond later it finds the key
// frame itself; its picture, which lasts past the segment's start, is still the first one shown.
gint64 SeekStart(Graph* graph, gint64 ns) {
  if (ns <= 0) return ns;
  std::lock_guard<std::mutex> guard(graph->lock);
  graph->shiftedStarts.push_back(ns + GST_MSECOND);
  return ns + GST_MSECOND;
}

void WatchSegments(GstElement* sink, Graph* graph, std::atomic<int>* range) {
  if (sink == nullptr) return;
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  if (pad == nullptr) return;
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnSinkEvent,
                    new std::pair<Graph*, std::atomic<int>*>(graph, range), [](gpointer d) {
                      delete static_cast<std::pair<Graph*, std::atomic<int>*>*>(d);
                    });
  gst_object_unref(pad);
}

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
  bool paused = false;
  int32_t pausedShown = -1;  // the picture on the screen when Pause was called, ms
  // OpenAsync: the clip prerolls; a Start meanwhile waits for it.
  bool prerolling = false;
  GstClockTime openedAt = 0;
  // What Begin carries out: a seek to startPos first, or the ranges from rangeIndex 0.
  uint64_t startPos = 0;
  bool seekFirst = false;
  size_t rangeIndex = 0;  // of the latest range seek
  std::string videoSinkName;
  // Handles the bus on the owner's thread; the bus's sync handler queues it on the timer.
  std::function<void()> wake;
  // Sends the seek to the next range (see SeekRange).
  std::thread seeker;

  // The window the X sinks may draw in: 0 when there is none, or when the program does not run
  // on an X display (a foreign id there would make Xlib end the process).
  uintptr_t DrawWindow() const {
    if (!media::OnX11()) return 0;
    if (haveWidget) return widget.isNull() ? 0 : static_cast<uintptr_t>(widget->winId());
    return nativeId;
  }
};

CQmvply::CQmvply() : m_pState(new QmvplyState) {
  m_pState->wake = [this] {
    if (m_pState->graph != nullptr) Poll();
  };
}

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

// The bus is read on the owner's thread: a message that needs an answer soon (a range done, the
// end, an error, the preroll of OpenAsync) wakes it instead of waiting for the next report.
static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer data) {
  switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_SEGMENT_DONE:
    case GST_MESSAGE_ASYNC_DONE: {
      auto* state = static_cast<QmvplyState*>(data);
      if (state->timer != nullptr)
        QMetaObject::invokeMethod(
            state->timer, [state] { state->wake(); }, Qt::QueuedConnection);
      break;
    }
    default:
      break;
  }
  return GST_BUS_PASS;
}

HRESULT CQmvply::Build(const wchar_t* path, std::string* name) {
  Close();
  if (!m_pState->initialised) return E_UNEXPECTED;
  if (path == nullptr || *path == L'\0') return E_INVALIDARG;
  const std::string file = QString::fromWCharArray(path).toStdString();
  *name = file;
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
  gst_bus_set_sync_handler(graph->bus, OnBusMessage, m_pState, nullptr);
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
  WatchSegments(videoSink, graph, &graph->videoRange);
  WatchSegments(audioSink, graph, &graph->audioRange);

  // Both branches take their sink over, so that Close releases them whatever failed.
  const bool videoBuilt = BuildBranch(&graph->video, "videoconvert", "videoscale", videoSink);
  const bool audioBuilt = BuildBranch(&graph->audio, "audioconvert", "audioresample", audioSink);
  if (!videoBuilt || !audioBuilt) {
    DbgLog(1, 4, "Failed to create the decoding elements\n");
    Close();
    return E_FAIL;
  }
  return S_OK;
}

// Something the clip can show or play was found, and it is ASF.
static bool Playable(Graph* graph) {
  std::lock_guard<std::mutex> guard(graph->lock);
  return graph->check.IsAsf() && (graph->video.linked || graph->audio.linked);
}

HRESULT CQmvply::Open(const wchar_t* path) {
  std::string file;
  const HRESULT built = Build(path, &file);
  if (FAILED(built)) return built;
  Graph* graph = m_pState->graph;

  // Preroll: the first picture is shown, and damaged or foreign files fail here.
  const GstStateChangeReturn change = gst_element_set_state(graph->pipeline, GST_STATE_PAUSED);
  const bool ready =
      change == GST_STATE_CHANGE_SUCCESS || change == GST_STATE_CHANGE_NO_PREROLL ||
      (change == GST_STATE_CHANGE_ASYNC &&
       media::WaitForPreroll(graph->pipeline, graph->bus, &graph->check, file, kOpenTimeout));
  const bool playable = Playable(graph);
  if (!ready || !playable) {
    if (ready) DbgLog(1, 4, "Nothing to play in %s\n", file.c_str());
    Close();
    return NS_E_FILE_OPEN_FAILED;
  }
  return S_OK;
}

HRESULT CQmvply::OpenAsync(const wchar_t* path) {
  std::string file;
  const HRESULT built = Build(path, &file);
  if (FAILED(built)) return built;
  Graph* graph = m_pState->graph;
  const GstStateChangeReturn change = gst_element_set_state(graph->pipeline, GST_STATE_PAUSED);
  if (change == GST_STATE_CHANGE_FAILURE) {
    DbgLog(1, 4, "Failed to open %s\n", file.c_str());
    Close();
    return NS_E_FILE_OPEN_FAILED;
  }
  m_pState->prerolling = change == GST_STATE_CHANGE_ASYNC;
  m_pState->openedAt = gst_util_get_timestamp();
  if (m_pState->timer != nullptr) m_pState->timer->start();
  return S_OK;
}

HRESULT CQmvply::Start(uint64_t startPos) {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return E_FAIL;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    graph->ranges.clear();
    graph->seqnums.clear();
  }
  m_pState->startPos = startPos;
  m_pState->seekFirst = startPos != 0 || m_pState->playing || m_pState->paused;
  m_pState->playing = true;
  m_pState->paused = false;
  if (m_pState->timer != nullptr) m_pState->timer->start();
  return m_pState->prerolling ? S_OK : Begin();
}

HRESULT CQmvply::StartRanges(const QmvplyRange* ranges, size_t count) {
  if (ranges == nullptr || count == 0) return E_INVALIDARG;
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return E_FAIL;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    graph->ranges.assign(ranges, ranges + count);
    graph->seqnums.assign(count, 0);
  }
  graph->videoRange = -1;
  graph->audioRange = -1;
  m_pState->rangeIndex = 0;
  m_pState->playing = true;
  m_pState->paused = false;
  if (m_pState->timer != nullptr) m_pState->timer->start();
  return m_pState->prerolling ? S_OK : Begin();
}

HRESULT CQmvply::Begin() {
  Graph* graph = m_pState->graph;
  JoinSeeker();  // a seek to a range of before comes first, not after this one
  ShowPrerollFrame(graph, true);
  bool ranges = false;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    ranges = !graph->ranges.empty();
  }
  if (ranges) {
    SeekRange(0, true);
  } else if (m_pState->seekFirst) {
    // 100-ns units to ns; a position past any clip's end simply ends the playback.
    const uint64_t limit = static_cast<uint64_t>(G_MAXINT64) / 100;
    const uint64_t startPos = m_pState->startPos;
    const gint64 ns =
        SeekStart(graph, static_cast<gint64>(startPos > limit ? limit : startPos) * 100);
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek_simple(graph->pipeline, GST_FORMAT_TIME, flags, ns))
      DbgLog(1, 4, "Failed to seek to %lld ms\n", static_cast<long long>(ns / GST_MSECOND));
  }
  if (gst_element_set_state(graph->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    DbgLog(1, 4, "Failed to start playing\n");
    Close();
    return E_FAIL;
  }
  return S_OK;
}

// Every range but the last is a segment of its own, so that the next is asked for while the
// sinks still play this one; the last ends the clip.
bool CQmvply::SeekRange(size_t index, bool flush) {
  Graph* graph = m_pState->graph;
  QmvplyRange range;
  size_t count = 0;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    count = graph->ranges.size();
    if (index >= count) return false;
    range = graph->ranges[index];
  }
  const uint64_t limit = static_cast<uint64_t>(G_MAXINT64) / 100;
  const auto ns = [&](uint64_t t) { return static_cast<gint64>(t > limit ? limit : t) * 100; };
  int flags = GST_SEEK_FLAG_ACCURATE;
  if (flush) flags |= GST_SEEK_FLAG_FLUSH;
  if (index + 1 < count) flags |= GST_SEEK_FLAG_SEGMENT;
  GstEvent* seek = gst_event_new_seek(1.0, GST_FORMAT_TIME, static_cast<GstSeekFlags>(flags),
                                      GST_SEEK_TYPE_SET, SeekStart(graph, ns(range.from)),
                                      range.to != 0 ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE,
                                      range.to != 0 ? ns(range.to) : -1);
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    graph->seqnums[index] = gst_event_get_seqnum(seek);
  }
  m_pState->rangeIndex = index;
  if (!flush) {
    // Without a flush the seek waits for the demuxer to let go of its stream, which takes as long
    // as the queues ahead of the sinks need to drain: not on the owner's thread.
    JoinSeeker();
    GstElement* pipeline = GST_ELEMENT(gst_object_ref(graph->pipeline));
    m_pState->seeker = std::thread([pipeline, seek, index] {
      if (!gst_element_send_event(pipeline, seek))
        DbgLog(1, 4, "Failed to seek to range %zu\n", index);
      gst_object_unref(pipeline);
    });
    return true;
  }
  if (!gst_element_send_event(graph->pipeline, seek)) {
    DbgLog(1, 4, "Failed to seek to range %zu\n", index);
    return false;
  }
  return true;
}

void CQmvply::JoinSeeker() {
  if (m_pState->seeker.joinable()) m_pState->seeker.join();
}

HRESULT CQmvply::Pause() {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return E_FAIL;
  m_pState->pausedShown = -1;
  // A seek to the next range still waiting for the demuxer would wait for good once the sinks
  // pause: it is let through first (it waits only while the clip plays, a few frames at most).
  JoinSeeker();
  if (!m_pState->prerolling) {
    // The picture on the screen stays: the one after it, which the sink takes while pausing, is
    // not drawn, and the position names the one shown.
    ShowPrerollFrame(graph, false);
    m_pState->pausedShown = GetShownPosition();
    gst_element_set_state(graph->pipeline, GST_STATE_PAUSED);
  }
  m_pState->playing = false;
  m_pState->paused = true;
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

bool CQmvply::IsPaused() const {
  return m_pState->paused;
}

int32_t CQmvply::GetPosition() const {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return 0;
  // The shown and heard streams' sinks are asked, not one that discards a second sound track;
  // while ranges play, the sink whose segments tell the range alone, so that the position and
  // the range index agree at a change of range.
  GstElement* sinks[2] = {};
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    const bool rangesByVideo = !graph->ranges.empty() && graph->video.linked;
    if (graph->video.linked) sinks[0] = GST_ELEMENT(gst_object_ref(graph->video.Sink()));
    if (graph->audio.linked && !rangesByVideo)
      sinks[1] = GST_ELEMENT(gst_object_ref(graph->audio.Sink()));
  }
  gint64 ns = 0;
  const bool known = media::ShownPosition({sinks[0], sinks[1]}, &ns) ||
                     gst_element_query_position(graph->pipeline, GST_FORMAT_TIME, &ns);
  for (GstElement* sink : sinks)
    if (sink != nullptr) gst_object_unref(sink);
  if (!known || ns < 0) return 0;
  return static_cast<int32_t>(ns / GST_MSECOND);
}

int32_t CQmvply::GetShownPosition() const {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return 0;
  if (m_pState->paused && m_pState->pausedShown >= 0) return m_pState->pausedShown;
  GstElement* sink = nullptr;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    if (graph->video.linked) sink = graph->video.Sink();
  }
  GstSample* sample = nullptr;
  if (sink != nullptr && g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "last-sample"))
    g_object_get(sink, "last-sample", &sample, nullptr);
  if (sink == nullptr) return GetPosition();
  if (sample == nullptr) return -1;
  gint64 ms = -1;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstSegment* segment = gst_sample_get_segment(sample);
  if (buffer != nullptr && segment != nullptr && GST_BUFFER_PTS_IS_VALID(buffer)) {
    // The first picture may start a little before the segment (see SeekStart).
    guint64 pts = GST_BUFFER_PTS(buffer);
    {
      std::lock_guard<std::mutex> guard(graph->lock);
      for (gint64 start : graph->shiftedStarts)
        if (pts == static_cast<guint64>(start) && segment->start == pts) pts -= GST_MSECOND;
    }
    guint64 t = 0;
    if (gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, pts, &t) > 0)
      ms = static_cast<gint64>(t / GST_MSECOND);
  }
  gst_sample_unref(sample);
  return ms >= 0 ? static_cast<int32_t>(ms) : -1;
}

int CQmvply::GetRangeIndex() const {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return -1;
  std::vector<QmvplyRange> ranges;
  bool video = false;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    ranges = graph->ranges;
    video = graph->video.linked;
  }
  if (ranges.empty()) return -1;
  int shown = video ? graph->videoRange.load() : graph->audioRange.load();
  if (shown < 0) shown = static_cast<int>(m_pState->rangeIndex);
  // The sink takes the new segment a moment before its position leaves the range before.
  const auto holds = [&](int i, int64_t ms) {
    return static_cast<int64_t>(ranges[i].from / 10000) <= ms &&
           (ranges[i].to == 0 || ms <= static_cast<int64_t>(ranges[i].to / 10000));
  };
  const int32_t pos = GetPosition();
  if (shown > 0 && !holds(shown, pos) && holds(shown - 1, pos)) --shown;
  return shown;
}

const char* CQmvply::GetVideoSinkName() const {
  return m_pState->graph != nullptr ? m_pState->videoSinkName.c_str() : "";
}

void CQmvply::OnTimer() {
  Graph* graph = m_pState->graph;
  if (graph == nullptr || !(m_pState->playing || m_pState->prerolling)) {
    if (m_pState->timer != nullptr) m_pState->timer->stop();
    return;
  }
  if (!Poll() || !m_pState->playing || m_pState->prerolling) return;
  // The post comes last: a receiver that handles it at once may call back into the player.
  const int32_t position = GetPosition();
  if (CMsgWindow* notify = m_pState->notify) notify->PostMsg(WM_PREVIEW_NOTIFY, 1, position);
}

bool CQmvply::Poll() {
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return true;
  bool ended = false;
  size_t count = 0;
  {
    std::lock_guard<std::mutex> guard(graph->lock);
    count = graph->ranges.size();
  }
  const bool moreRanges = m_pState->rangeIndex + 1 < count;
  while (GstMessage* msg = gst_bus_pop(graph->bus)) {
    const bool fromPipeline = GST_MESSAGE_SRC(msg) == GST_OBJECT(graph->pipeline);
    std::string text;
    switch (GST_MESSAGE_TYPE(msg)) {
      case GST_MESSAGE_ERROR:
        media::Classify(msg, &text);
        DbgLog(1, 4, "Preview stopped: %s\n", text.c_str());
        ended = true;
        break;
      case GST_MESSAGE_EOS:
        // A demuxer that ends a segment as the clip's end: the next range after a flush.
        if (moreRanges && m_pState->playing)
          ended = !SeekRange(m_pState->rangeIndex + 1, true);
        else
          ended = true;
        break;
      case GST_MESSAGE_SEGMENT_DONE:
        if (fromPipeline && moreRanges && m_pState->playing)
          ended = !SeekRange(m_pState->rangeIndex + 1, false);
        break;
      case GST_MESSAGE_ASYNC_DONE:
        if (fromPipeline && m_pState->prerolling) {
          m_pState->prerolling = false;
          if (!Playable(graph)) {
            DbgLog(1, 4, "Nothing to play in the clip\n");
            ended = true;
          } else if (m_pState->playing && FAILED(Begin())) {
            gst_message_unref(msg);
            if (CMsgWindow* notify = m_pState->notify) notify->PostMsg(WM_PREVIEW_NOTIFY, 0, 0);
            return false;
          }
        }
        break;
      default:
        break;
    }
    gst_message_unref(msg);
    if (ended) break;
  }
  if (!ended && m_pState->prerolling &&
      gst_util_get_timestamp() - m_pState->openedAt > kOpenTimeout) {
    DbgLog(1, 4, "Timed out opening the clip\n");
    ended = true;
  }
  if (!ended) return true;
  CMsgWindow* notify = m_pState->notify;
  Close();
  if (notify != nullptr) notify->PostMsg(WM_PREVIEW_NOTIFY, 0, 0);
  return false;
}

void CQmvply::Close() {
  if (m_pState->timer != nullptr) m_pState->timer->stop();
  m_pState->playing = false;
  m_pState->paused = false;
  m_pState->prerolling = false;
  m_pState->rangeIndex = 0;
  m_pState->videoSinkName.clear();
  Graph* graph = m_pState->graph;
  if (graph == nullptr) return;
  m_pState->graph = nullptr;
  // Joins the streaming threads: no signal reaches the graph after this.
  if (graph->pipeline != nullptr) gst_element_set_state(graph->pipeline, GST_STATE_NULL);
  JoinSeeker();  // its seek fails at once on a stopped pipeline
  if (graph->bus != nullptr) gst_bus_set_sync_handler(graph->bus, nullptr, nullptr, nullptr);
  graph->check.Reset();
  graph->video.Release();
  graph->audio.Release();
  if (graph->bus != nullptr) gst_object_unref(graph->bus);
  if (graph->pipeline != nullptr) gst_object_unref(graph->pipeline);
  delete graph;
}
