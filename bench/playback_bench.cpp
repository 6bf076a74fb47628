// The playback engine against GStreamer's playbin (the element gst-launch-1.0 playbin and
// gst-play-1.0 run), on the same clip and the same sinks, in one process:
//   playback_bench open CLIP REPS     time from plyPlyUrl (playbin: its creation) to the first
//                                     picture at the video sink, REPS times each, alternating
//   playback_bench seek CLIP N [ref-first]  N accurate seeks while playing: time from
//                                     SetMvCurPos (a flushing accurate seek of playbin) to the
//                                     first picture at the new position after the flush
// Times end when the picture reaches the video sink's pad (a pad probe), for both sides.
//   playback_bench play ours|playbin CLIP   plays the clip to its end (for CPU measurement)
// Sinks: VANTREL_VIDEO_SINK / VANTREL_AUDIO_SINK when set (fakesink keeps real time), else on an
// X display the same X sink for both, drawing into a 1280 x 720 window each, and the system's
// sound. Prints one line per measurement: "<side> <what> <ms>".
#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "Engine.h"
#include "Media.h"
#include "PlaybackState.h"
#include "QmvPlyEx.h"

namespace plyex {
void ReleaseTape() {}
void InterruptTape() {}
}  // namespace plyex

namespace {

// The first picture at or after a position reaching a sink pad, in stream time; after a seek only
// pictures that come after its flush count (those in flight before it may lie past the position).
struct PictureWatch {
  std::mutex lock;
  std::condition_variable changed;
  bool seen = false;
  bool flushed = true;
  std::chrono::steady_clock::time_point seenAt;  // when the picture reached the sink
  int64_t wantedNs = 0;
  GstPad* pad = nullptr;
  gulong probe = 0;

  void Arm(int64_t ns, bool afterFlush) {
    std::lock_guard<std::mutex> guard(lock);
    wantedNs = ns;
    seen = false;
    flushed = !afterFlush;
  }
  // Milliseconds from `start` to the picture's arrival.
  double Since(std::chrono::steady_clock::time_point start) {
    std::lock_guard<std::mutex> guard(lock);
    return std::chrono::duration<double, std::milli>(seenAt - start).count();
  }
  // Waits for the picture; the Qt events are served every few milliseconds meanwhile.
  bool WaitSeen(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    std::unique_lock<std::mutex> guard(lock);
    while (!seen) {
      if (timer.elapsed() > timeoutMs) return false;
      changed.wait_for(guard, std::chrono::milliseconds(5));
      guard.unlock();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
      guard.lock();
    }
    return true;
  }
  void Attach(GstElement* sink) {
    Detach();
    pad = gst_element_get_static_pad(sink, "sink");
    probe = gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
        OnData, this, nullptr);
  }
  void Detach() {
    if (pad != nullptr) {
      gst_pad_remove_probe(pad, probe);
      gst_object_unref(pad);
    }
    pad = nullptr;
  }

  static GstPadProbeReturn OnData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* watch = static_cast<PictureWatch*>(data);
    std::lock_guard<std::mutex> guard(watch->lock);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH) {
      if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
        watch->flushed = true;
      return GST_PAD_PROBE_OK;
    }
    if (watch->seen || !watch->flushed) return GST_PAD_PROBE_OK;
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime pts = GST_BUFFER_PTS(buffer);
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (event != nullptr) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      pts = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, pts);
      gst_event_unref(event);
    }
    // Half a picture of slack for rounding of the timestamps.
    if (GST_CLOCK_TIME_IS_VALID(pts) &&
        static_cast<int64_t>(pts) + 20 * GST_MSECOND >= watch->wantedNs) {
      watch->seen = true;
      watch->seenAt = std::chrono::steady_clock::now();
      watch->changed.notify_all();
    }
    return GST_PAD_PROBE_OK;
  }
};

// Serves the Qt events until done() or the time is up, looking every `pollMs`.
bool Wait(const std::function<bool()>& done, int timeoutMs, int pollMs = 50) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QThread::msleep(pollMs);
  }
  return true;
}

double Ms(const QElapsedTimer& t) {
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

std::string Uri(const std::string& path) {
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  std::string out = uri != nullptr ? uri : "";
  g_free(uri);
  return out;
}

QWidget* g_window = nullptr;

HWND Window() {
  return g_window != nullptr ? static_cast<HWND>(g_window->winId()) : 0;
}

// --- Ours: the player window's sequence ---
struct Ours {
  PictureWatch watch;

  bool Open(const std::string& clip, double* ms) {
    plyCleanUp();
    if (plyInit() != 0) return false;
    SetClipWnd(Window());
    if (plyUseVMR() != 0) return false;
    watch.Attach(plyex::State().vmr);
    watch.Arm(0, false);
    const auto t0 = std::chrono::steady_clock::now();
    if (plyPlyUrl(clip.c_str()) != 0) return false;
    const bool ok = watch.WaitSeen(10000);
    *ms = watch.Since(t0);
    SetMv(0, 0, 1280, 720);
    return ok;
  }
  bool Start() { return plyStart() == 0; }
  bool Seek(int64_t ms, double* took) {
    watch.Arm(ms * GST_MSECOND, true);
    const auto t0 = std::chrono::steady_clock::now();
    SetMvCurPos(static_cast<LONG>(ms));
    const bool ok = watch.WaitSeen(10000);
    *took = watch.Since(t0);
    return ok;
  }
  bool Playing() {
    if (!plyIsPlaying()) return false;
    plyHandleEvent();
    return true;
  }
  void Close() {
    watch.Detach();
    if (plyIsPlaying()) plyStop();
    plyCleanUp();
  }
};

// --- The reference: playbin with the same sinks ---
struct Reference {
  PictureWatch watch;
  GstElement* playbin = nullptr;
  GstBus* bus = nullptr;

  bool Open(const std::string& clip, double* ms) {
    Close();
    // The video sink exists before, as the renderer does for ours (plyUseVMR); the sound sink
    // is made per clip on both sides.
    GstElement* video = media::MakeVideoSink("ref video", Window() != 0);
    if (video == nullptr) return false;
    if (GST_IS_VIDEO_OVERLAY(video) && Window() != 0)
      gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(video), Window());
    watch.Attach(video);
    watch.Arm(0, false);
    const auto t0 = std::chrono::steady_clock::now();
    GstElement* audio = media::MakeAudioSink("ref audio");
    if (audio == nullptr) {
      gst_object_unref(video);
      return false;
    }
    playbin = gst_element_factory_make("playbin", nullptr);
    gst_object_ref_sink(playbin);
    g_object_set(playbin, "uri", Uri(clip).c_str(), "video-sink", video, "audio-sink", audio,
                 nullptr);
    gst_object_unref(video);
    gst_object_unref(audio);
    bus = gst_element_get_bus(playbin);
    if (gst_element_set_state(playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return false;
    const bool ok = watch.WaitSeen(10000);
    *ms = watch.Since(t0);
    return ok;
  }
  bool Start() {
    return gst_element_set_state(playbin, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  }
  bool Seek(int64_t ms, double* took) {
    watch.Arm(ms * GST_MSECOND, true);
    const auto t0 = std::chrono::steady_clock::now();
    gst_element_seek_simple(playbin, GST_FORMAT_TIME,
                            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                            ms * GST_MSECOND);
    const bool ok = watch.WaitSeen(10000);
    *took = watch.Since(t0);
    return ok;
  }
  bool Playing() {
    while (GstMessage* msg = gst_bus_pop(bus)) {
      const bool end = media::Classify(msg) != media::BusEvent::kNone;
      gst_message_unref(msg);
      if (end) return false;
    }
    return true;
  }
  void Close() {
    watch.Detach();
    if (playbin != nullptr) {
      gst_element_set_state(playbin, GST_STATE_NULL);
      gst_object_unref(bus);
      gst_object_unref(playbin);
    }
    playbin = nullptr;
    bus = nullptr;
  }
};

template <typename Side>
int PlayToTheEnd(Side& side, const std::string& clip) {
  double ms = 0;
  if (!side.Open(clip, &ms) || !side.Start()) return 1;
  QElapsedTimer t;
  t.start();
  Wait([&] { return !side.Playing(); }, 600000, 100);
  std::printf("play %.1f\n", Ms(t));
  side.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: playback_bench open|seek CLIP N | play ours|playbin CLIP\n");
    return 2;
  }
  QApplication app(argc, argv);
  if (!media::InitGStreamer()) return 1;
  const std::string mode = argv[1];
  QWidget window;
  if (media::OnX11() && std::getenv("VANTREL_VIDEO_SINK") == nullptr) {
    window.setFixedSize(1280, 720);
    window.move(0, 0);
    window.show();
    Wait([] { return false; }, 300);
    g_window = &window;
  }
  Ours ours;
  Reference ref;
  if (mode == "play" && argc >= 4) {
    const std::string side = argv[2];
    return side == "ours" ? PlayToTheEnd(ours, argv[3]) : PlayToTheEnd(ref, argv[3]);
  }
  const std::string clip = argv[2];
  const int count = argc > 3 ? std::atoi(argv[3]) : 10;
  if (mode == "open") {
    for (int i = 0; i < count; ++i) {
      double a = 0;
      double b = 0;
      // Alternating which goes first; both share the page cache and the loaded plugins.
      const bool oursFirst = i % 2 == 0;
      if (oursFirst && !ours.Open(clip, &a)) return 1;
      if (!ref.Open(clip, &b)) return 1;
      if (!oursFirst && !ours.Open(clip, &a)) return 1;
      ours.Close();
      ref.Close();
      std::printf("ours open %.2f\nref open %.2f\n", a, b);
    }
    return 0;
  }
  if (mode == "seek") {
    LONG length = 0;
    double ms = 0;
    if (!ours.Open(clip, &ms)) return 1;
    GetMvDuration(&length);
    ours.Close();
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> pick(1000, std::max(2000, static_cast<int>(length) - 3000));
    std::vector<int> positions;
    for (int i = 0; i < count; ++i) positions.push_back(pick(random));
    auto run = [&](auto& side, const char* name) {
      double opened = 0;
      if (!side.Open(clip, &opened) || !side.Start()) return false;
      Wait([] { return false; }, 500);
      for (int p : positions) {
        double took = 0;
        if (!side.Seek(p, &took)) return false;
        std::printf("%s seek %.2f\n", name, took);
        Wait([] { return false; }, 150);
      }
      side.Close();
      return true;
    };
    // Which side goes first alternates between runs (a fifth argument "ref-first").
    const bool refFirst = argc > 4 && std::string(argv[4]) == "ref-first";
    if (refFirst && !run(ref, "ref")) return 1;
    if (!run(ours, "ours")) return 1;
    if (!refFirst && !run(ref, "ref")) return 1;
    return 0;
  }
  return 2;
}
