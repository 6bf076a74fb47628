#include "Media.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "DbgLog.h"

namespace media {

namespace {

constexpr GstClockTime kPrerollPoll = 100 * GST_MSECOND;
// A demuxer whose task paused this long without a preroll has nothing more to give.
constexpr GstClockTime kStallGrace = 1 * GST_SECOND;

bool HasProperty(GstElement* element, const char* name) {
  return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

// Whether the X server offers Xv is asked once per process.
std::optional<bool> g_xvWorks;
std::mutex g_xvLock;

GstElement* MakeXSink(const char* name) {
  std::lock_guard<std::mutex> guard(g_xvLock);
  if (g_xvWorks.value_or(true)) {
    GstElement* sink = MakeReadySink("xvimagesink", name);
    g_xvWorks = sink != nullptr;
    if (sink != nullptr) return sink;
  }
  return MakeReadySink("ximagesink", name);
}

// The first caps decodebin asks about are those of the file itself: only ASF goes on.
gboolean OnAutoplugContinue(GstElement* decoder, GstPad*, GstCaps* caps, gpointer data) {
  auto* check = static_cast<ClipCheck*>(data);
  {
    std::lock_guard<std::mutex> guard(check->lock);
    if (check->typeSeen) return TRUE;
    check->typeSeen = true;
    check->isAsf = caps != nullptr && gst_caps_get_size(caps) > 0 &&
                   gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-ms-asf");
    if (check->isAsf || !check->requireAsf) return TRUE;
  }
  // Ends the opening at once instead of waiting for whatever else the file would play as.
  GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE,
                                      "The file is not an ASF clip");
  gst_element_post_message(decoder, gst_message_new_error(GST_OBJECT(decoder), error, nullptr));
  g_error_free(error);
  return FALSE;
}

// Notes the demuxer the decoder plugs. decodebin swallows an error its new demuxer raises while
// it is still being set up (a clip cut inside its header does that), so the opening watches the
// demuxer's reading task instead.
void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
  auto* check = static_cast<ClipCheck*>(data);
  GstElementFactory* factory = gst_element_get_factory(element);
  const char* klass = factory != nullptr
                          ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                          : nullptr;
  if (klass == nullptr || std::strstr(klass, "Demux") == nullptr) return;
  std::lock_guard<std::mutex> guard(check->lock);
  if (check->demuxerPad == nullptr) check->demuxerPad = gst_element_get_static_pad(element, "sink");
}

// A demuxer that pulls its data pauses its task at the end of the file or on an error.
bool DemuxerStopped(ClipCheck* check) {
  std::lock_guard<std::mutex> guard(check->lock);
  return check->demuxerPad != nullptr &&
         gst_pad_get_task_state(check->demuxerPad) == GST_TASK_PAUSED;
}

}  // namespace

bool InitGStreamer() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    GError* error = nullptr;
    ready = gst_init_check(nullptr, nullptr, &error);
    if (!ready) {
      DbgLog(1, 4, "Failed to start GStreamer: %s\n", error != nullptr ? error->message : "");
      g_clear_error(&error);
    }
  });
  return ready;
}

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string FactoryName(GstElement* element) {
  GstElementFactory* factory = element != nullptr ? gst_element_get_factory(element) : nullptr;
  return factory != nullptr ? GST_OBJECT_NAME(factory) : "";
}

bool OnX11() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
    return !EnvText("DISPLAY").empty();
  return QGuiApplication::platformName() == QLatin1String("xcb");
}

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

void PlayInRealTime(GstElement* sink) {
  if (sink != nullptr && HasProperty(sink, "sync")) g_object_set(sink, "sync", TRUE, nullptr);
}

GstElement* MakeVideoSink(const char* name, bool haveWindow) {
  const std::string env = EnvText("VANTREL_VIDEO_SINK");
  GstElement* sink = nullptr;
  if (!env.empty()) {
    sink = MakeReadySink(env.c_str(), name);
    if (sink == nullptr) DbgLog(1, 4, "Failed to create video sink %s\n", env.c_str());
  }
  if (sink == nullptr && haveWindow) sink = MakeXSink(name);
  if (sink == nullptr) sink = MakeReadySink("fakesink", name);
  if (sink != nullptr && (!env.empty() || FactoryName(sink) == "fakesink")) PlayInRealTime(sink);
  return sink;
}

GstElement* MakeAudioSink(const char* name) {
  const std::string env = EnvText("VANTREL_AUDIO_SINK");
  GstElement* sink = MakeReadySink(env.empty() ? "autoaudiosink" : env.c_str(), name);
  if (sink == nullptr) {
    DbgLog(1, 4, "Failed to create audio sink, playing without sound\n");
    sink = MakeReadySink("fakesink", name);
  }
  if (sink != nullptr && (!env.empty() || FactoryName(sink) == "fakesink")) PlayInRealTime(sink);
  return sink;
}

bool SinkNeedsScaling(GstElement* sink) {
  return FactoryName(sink) == "ximagesink";
}

void ClipCheck::Reset() {
  GstElement* bin = nullptr;
  GstPad* pad = nullptr;
  gulong id = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    bin = watched;
    pad = demuxerPad;
    id = deepAddedId;
    watched = nullptr;
    demuxerPad = nullptr;
    deepAddedId = 0;
    typeSeen = false;
    isAsf = false;
  }
  if (bin != nullptr && id != 0) g_signal_handler_disconnect(bin, id);
  if (bin != nullptr) gst_object_unref(bin);
  if (pad != nullptr) gst_object_unref(pad);
}

void WatchDecoder(GstElement* decoder, GstElement* pipeline, ClipCheck* check) {
  check->Reset();
  g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), check);
  std::lock_guard<std::mutex> guard(check->lock);
  check->watched = GST_ELEMENT(gst_object_ref(pipeline));
  check->deepAddedId =
      g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(OnDeepElementAdded), check);
}

bool WaitForPreroll(GstElement* pipeline, GstBus* bus, ClipCheck* check, const std::string& what,
                    GstClockTime timeout) {
  const GstClockTime start = gst_util_get_timestamp();
  GstClockTime stalledSince = GST_CLOCK_TIME_NONE;
  for (;;) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, kPrerollPoll, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE));
    if (msg != nullptr) {
      if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        std::string text;
        Classify(msg, &text);
        DbgLog(1, 4, "Failed to open %s: %s\n", what.c_str(), text.c_str());
        gst_message_unref(msg);
        return false;
      }
      const bool done = GST_MESSAGE_SRC(msg) == GST_OBJECT(pipeline);
      gst_message_unref(msg);
      if (done) return true;
      continue;
    }
    const GstClockTime now = gst_util_get_timestamp();
    if (now - start > timeout) {
      DbgLog(1, 4, "Timed out opening %s\n", what.c_str());
      return false;
    }
    if (check == nullptr || !DemuxerStopped(check)) {
      stalledSince = GST_CLOCK_TIME_NONE;
    } else if (stalledSince == GST_CLOCK_TIME_NONE) {
      stalledSince = now;
    } else if (now - stalledSince > kStallGrace) {
      DbgLog(1, 4, "Failed to open %s: the demuxer stopped before any picture\n", what.c_str());
      return false;
    }
  }
}

BusEvent Classify(GstMessage* msg, std::string* text) {
  if (msg == nullptr) return BusEvent::kNone;
  if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) return BusEvent::kEnd;
  if (GST_MESSAGE_TYPE(msg) != GST_MESSAGE_ERROR) return BusEvent::kNone;
  if (text != nullptr) {
    GError* err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    *text = err != nullptr ? err->message : "";
    g_clear_error(&err);
  }
  return BusEvent::kError;
}

bool Branch::Add(GstElement* element) {
  if (count >= kMax) {
    if (element != nullptr) gst_object_unref(gst_object_ref_sink(element));
    return false;
  }
  // Held by the branch whether or not a bin takes it.
  if (element != nullptr && g_object_is_floating(element)) gst_object_ref_sink(element);
  elems[count++] = element;
  return element != nullptr;
}

bool Branch::Make(const char* factory, const char* name) {
  return Add(gst_element_factory_make(factory, name));
}

bool Branch::Complete() const {
  if (count == 0) return false;
  for (int i = 0; i < count; ++i)
    if (elems[i] == nullptr) return false;
  return true;
}

bool Branch::LinkTo(GstElement* bin, GstPad* pad) {
  if (!Complete()) return false;
  for (int i = 0; i < count; ++i)
    if (GST_OBJECT_PARENT(elems[i]) == nullptr) gst_bin_add(GST_BIN(bin), elems[i]);
  bool ok = true;
  for (int i = 0; i + 1 < count; ++i) ok = ok && gst_element_link(elems[i], elems[i + 1]);
  for (int i = count - 1; i >= 0; --i) gst_element_sync_state_with_parent(elems[i]);
  GstPad* sinkPad = gst_element_get_static_pad(First(), "sink");
  ok = ok && sinkPad != nullptr && gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
  if (sinkPad != nullptr) gst_object_unref(sinkPad);
  linked = ok;
  return ok;
}

void Branch::Release() {
  for (int i = 0; i < count; ++i) {
    GstElement* e = elems[i];
    if (e == nullptr) continue;
    gst_element_set_state(e, GST_STATE_NULL);
    GstObject* parent = gst_object_get_parent(GST_OBJECT(e));
    if (parent != nullptr) {
      if (GST_IS_BIN(parent)) gst_bin_remove(GST_BIN(parent), e);
      gst_object_unref(parent);
    }
    gst_object_unref(e);
    elems[i] = nullptr;
  }
  count = 0;
  linked = false;
}

void LinkToDiscard(GstElement* pipeline, GstPad* pad, bool keepPace) {
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (sink == nullptr) return;
  g_object_set(sink, "async", FALSE, "sync", keepPace ? TRUE : FALSE, nullptr);
  gst_bin_add(GST_BIN(pipeline), sink);
  gst_element_sync_state_with_parent(sink);
  GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
  gst_pad_link(pad, sinkPad);
  gst_object_unref(sinkPad);
}

bool ShownPosition(std::initializer_list<GstElement*> sinks, gint64* ns) {
  bool known = false;
  gint64 best = 0;
  for (GstElement* sink : sinks) {
    gint64 at = 0;
    if (sink == nullptr || !gst_element_query_position(sink, GST_FORMAT_TIME, &at) || at < 0)
      continue;
    best = known ? std::max(best, at) : at;
    known = true;
  }
  if (known) *ns = best;
  return known;
}

std::string PadKind(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  std::string kind;
  if (caps != nullptr && gst_caps_get_size(caps) > 0)
    kind = gst_structure_get_name(gst_caps_get_structure(caps, 0));
  if (caps != nullptr) gst_caps_unref(caps);
  return kind;
}

}  // namespace media
