// DV tape export: the tape graph on the library's one pipeline, and the camcorder it feeds.
//
//   <clip source "ASF Reader" | "Source1">
//     video ! "Video Decoder DMO" (queue ! videoconvert ! videoscale ! videorate ! caps ! queue)
//           ! "DV Video Encoder" (avenc_dvvideo) ! queue ! "DV Muxer" (avmux_dv)
//     sound ! "Audio Decoder DMO" (queue ! audioconvert ! audioresample)
//           ! "ACM Wrapper" (audiorate ! 48 kHz S16LE stereo ! queue) ! "DV Muxer"
//   "DV Muxer" ! "Microsoft DV Camera and VCR" (appsink: whole frames to the camcorder)
//
// The source decodes (its decoders are the clip's own); the bins named after the decoders take
// the decoded streams into the encoder's formats. The queues let decoding, scaling, encoding and
// muxing run on threads of their own. A clip without sound gets a silent track, so that the tape
// always has one. The system follows the clip's frame rate, measured on its first pictures: PAL
// (720 x 576 at 25 fps) below 27.5 fps, NTSC (720 x 480 at 29.97) from there up. The muxer takes
// both inputs as running time, so sound that starts a few ms before the pictures lines up. Its
// chunks carry no times: they are stamped with the time of the frame they belong to, so the
// camcorder end runs at the pace of a real tape when asked to, and the graph's position follows
// the tape.
#include <gst/app/gstappsink.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "Camcorder.h"
#include "DbgLog.h"
#include "DvFrames.h"
#include "Engine.h"
#include "Media.h"
#include "WinTypes.h"

namespace plyex {

namespace {

// A prerolled graph reaches playing at once; this bounds it.
constexpr GstClockTime kRunTimeout = 3 * GST_SECOND;

struct TapeGraph {
  std::shared_ptr<Camcorder> camera;
  GstElement* pipeline = nullptr;   // not held: the graph's own
  GstElement* source = nullptr;     // held
  GstElement* videoIn = nullptr;    // held, "Video Decoder DMO"
  GstElement* videoSize = nullptr;  // its capsfilter (owned by the bin)
  GstElement* audioIn = nullptr;    // held, "Audio Decoder DMO"
  GstElement* sink = nullptr;       // held, the camcorder end
  gulong padAddedId = 0;
  gulong noMorePadsId = 0;

  std::mutex lock;  // the members below, from the source's streaming threads
  bool videoLinked = false;
  bool audioLinked = false;
  int declaredNum = 0;  // the frame rate the decoder declares (often a default)
  int declaredDen = 1;
  std::vector<GstClockTime> stamps;  // of the first pictures, to measure their rate
  bool systemKnown = false;
  std::condition_variable systemSet;
  DvSystem system;
  GstElement* silence = nullptr;  // not held: the silent track of a clip without sound
  std::atomic<bool> videoEnded{false};
  std::atomic<bool> silenceEnded{false};

  // Segments of the muxer's inputs, each on its own streaming thread.
  GstSegment videoSegment;
  GstSegment audioSegment;
  GstClockTime audioEnd = GST_CLOCK_TIME_NONE;  // of the sound so far, in its segment
  bool audioPadded = false;

  // Camcorder end, on the muxer's streaming thread only.
  DvFramer framer;
  uint64_t stampedBytes = 0;
  std::atomic<bool> failed{false};
};

// How the last recording went: it outlives the graph, which may be released (by an event poll)
// before the host asks.
enum class Recording { kNone, kRunning, kCompleted, kFailed };

struct TapeState {
  std::shared_ptr<Camcorder> camera;  // found by FindVtr, for CtrlVtr
  std::unique_ptr<TapeGraph> graph;
  std::atomic<Recording> recording{Recording::kNone};
};

// A running recording ends once, completed or failed; a later end changes nothing.
void EndRecording(Recording how);

TapeState& Tape() {
  static TapeState state;
  return state;
}

const int32_t kModes[] = {ED_MODE_STOP,   ED_MODE_PLAY, ED_MODE_RECORD,
                          ED_MODE_FREEZE, ED_MODE_REW,  ED_MODE_FF};

void PostError(GstElement* from, const char* text) {
  GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, text);
  gst_element_post_message(from, gst_message_new_error(GST_OBJECT(from), error, nullptr));
  g_error_free(error);
}

GstElement* Held(GstElement* element) {
  return element != nullptr ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr;
}

GstElement* MakeBin(const char* description, const char* name) {
  GError* error = nullptr;
  GstElement* bin = gst_parse_bin_from_description_full(description, TRUE, nullptr,
                                                        GST_PARSE_FLAG_FATAL_ERRORS, &error);
  if (bin == nullptr) {
    DbgLog(1, 4, "Failed to create %s: %s\n", name, error != nullptr ? error->message : "");
    g_clear_error(&error);
    return nullptr;
  }
  gst_object_set_name(GST_OBJECT(bin), name);
  return Held(bin);
}

bool LinkPad(GstPad* pad, GstElement* to) {
  GstPad* sinkPad = gst_element_get_static_pad(to, "sink");
  const bool ok = sinkPad != nullptr && gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
  if (sinkPad != nullptr) gst_object_unref(sinkPad);
  return ok;
}

GstCaps* DvVideoCaps(const DvSystem& system) {
  // The encoder takes 4:2:0 for 625/50 and 4:1:1 for 525/60; the pixel shapes make a 4:3 frame.
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, system.pal ? "I420" : "Y41B",
                             "width", G_TYPE_INT, system.Width(), "height", G_TYPE_INT,
                             system.Height(), "framerate", GST_TYPE_FRACTION, system.FpsNum(),
                             system.FpsDen(), "pixel-aspect-ratio", GST_TYPE_FRACTION,
                             system.pal ? 16 : 8, system.pal ? 15 : 9, nullptr);
}

void OnSourcePad(GstElement*, GstPad* pad, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  const GstStructure* st =
      caps != nullptr && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
  const char* kind = st != nullptr ? gst_structure_get_name(st) : "";
  std::lock_guard<std::mutex> guard(tape->lock);
  if (g_str_has_prefix(kind, "video/x-raw") && !tape->videoLinked) {
    if (!gst_structure_get_fraction(st, "framerate", &tape->declaredNum, &tape->declaredDen))
      tape->declaredNum = 0;
    tape->videoLinked = LinkPad(pad, tape->videoIn);
    if (!tape->videoLinked)
      PostError(tape->sink, "The clip's pictures cannot go to the DV encoder");
  } else if (g_str_has_prefix(kind, "audio/x-raw") && !tape->audioLinked) {
    tape->audioLinked = LinkPad(pad, tape->audioIn);
    if (!tape->audioLinked) PostError(tape->sink, "The clip's sound cannot go to the DV muxer");
  } else {
    // A stream the tape does not take (a second sound track) is consumed without holding it up,
    // at the tape's pace.
    media::LinkToDiscard(tape->pipeline, pad, tape->camera->WantsClockPace());
  }
  if (caps != nullptr) gst_caps_unref(caps);
}

// Settles PAL or NTSC from the pictures' times (a Windows Media clip declares no frame rate, and
// its decoder then claims 25 fps): the median gap between the first pictures; the declared rate
// only when there are too few pictures to tell. Called with the lock held.
void SettleSystem(TapeGraph* tape) {
  if (tape->systemKnown) return;
  std::vector<GstClockTime> stamps = tape->stamps;
  std::sort(stamps.begin(), stamps.end());
  std::vector<GstClockTime> gaps;
  for (size_t i = 1; i < stamps.size(); ++i)
    if (stamps[i] > stamps[i - 1]) gaps.push_back(stamps[i] - stamps[i - 1]);
  int num = tape->declaredNum;
  int den = tape->declaredDen;
  if (!gaps.empty()) {
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    num = static_cast<int>(std::min<GstClockTime>(
        gst_util_uint64_scale(GST_SECOND, 1000, gaps[gaps.size() / 2]), 1000000));
    den = 1000;
  }
  tape->system = DvSystemForRate(num, den);
  tape->systemKnown = true;
  tape->framer.Reset(tape->system);
  GstCaps* dv = DvVideoCaps(tape->system);
  g_object_set(tape->videoSize, "caps", dv, nullptr);
  gst_caps_unref(dv);
  DbgLog(1, 4, "Tape: pictures at %.3f fps go to %s DV\n", den > 0 ? num / double(den) : 0.0,
         tape->system.pal ? "PAL" : "NTSC");
  tape->systemSet.notify_all();
}

constexpr size_t kRateStamps = 6;  // fewer than the first queue of the picture branch holds

// Puts a plain time segment (from 0, same sequence number) in place of the probed segment event.
void ReplaceWithPlainSegment(GstPadProbeInfo* info, GstEvent* event) {
  GstSegment plain;
  gst_segment_init(&plain, GST_FORMAT_TIME);
  GstEvent* replaced = gst_event_new_segment(&plain);
  gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
  gst_event_unref(event);
  GST_PAD_PROBE_INFO_DATA(info) = replaced;
}

// Pictures entering the picture branch: their times until the rate is known.
GstPadProbeReturn OnPictureIn(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  std::lock_guard<std::mutex> guard(tape->lock);
  if (tape->systemKnown) return GST_PAD_PROBE_REMOVE;
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
    const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
    if (GST_CLOCK_TIME_IS_VALID(pts)) tape->stamps.push_back(pts);
    if (tape->stamps.size() >= kRateStamps) SettleSystem(tape);
  } else if (GST_PAD_PROBE_INFO_EVENT(info) != nullptr) {
    // The end of a very short clip, or a flush: decide with what there is.
    const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
    if (type == GST_EVENT_EOS || type == GST_EVENT_FLUSH_START) SettleSystem(tape);
  }
  return GST_PAD_PROBE_OK;
}

// Pictures leaving the first queue wait (bounded) until the rate is known and the branch's
// format set.
GstPadProbeReturn OnPictureOut(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  std::unique_lock<std::mutex> guard(tape->lock);
  if (!tape->systemKnown)
    tape->systemSet.wait_for(guard, std::chrono::seconds(2), [tape] { return tape->systemKnown; });
  SettleSystem(tape);
  return GST_PAD_PROBE_REMOVE;
}

// The muxer orders its inputs by their raw times, while the encoder shifts its output segment
// (by 1000 hours): both inputs go on as running time on a plain segment.
GstPadProbeReturn OnMuxInput(GstPad*, GstPadProbeInfo* info, GstSegment* segment) {
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    if (segment->format == GST_FORMAT_TIME) {
      const GstClockTime pts = GST_BUFFER_PTS(buffer);
      const GstClockTime dts = GST_BUFFER_DTS(buffer);
      if (GST_CLOCK_TIME_IS_VALID(pts))
        GST_BUFFER_PTS(buffer) = gst_segment_to_running_time(segment, GST_FORMAT_TIME, pts);
      if (GST_CLOCK_TIME_IS_VALID(dts))
        GST_BUFFER_DTS(buffer) = gst_segment_to_running_time(segment, GST_FORMAT_TIME, dts);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
  }
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event != nullptr && GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
    const GstSegment* in = nullptr;
    gst_event_parse_segment(event, &in);
    if (in == nullptr || in->format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
    gst_segment_copy_into(in, segment);
    ReplaceWithPlainSegment(info, event);
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnVideoMuxInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  return OnMuxInput(pad, info, &static_cast<TapeGraph*>(data)->videoSegment);
}

// The muxer writes a frame only with its whole sound, so pictures whose sound ends a few samples
// short (the resampler's rounding) would lose their last frame: 40 ms of silence after the end
// of the sound completes it (what is not needed is left out).
GstPadProbeReturn OnAudioMuxInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer))
      tape->audioEnd = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
  } else if (GST_PAD_PROBE_INFO_EVENT(info) != nullptr &&
             GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS &&
             GST_CLOCK_TIME_IS_VALID(tape->audioEnd) && !tape->audioPadded) {
    tape->audioPadded = true;
    constexpr gsize kBytes = 1920 * 4;  // 40 ms of 48 kHz 16-bit stereo
    GstBuffer* silence = gst_buffer_new_allocate(nullptr, kBytes, nullptr);
    gst_buffer_memset(silence, 0, 0, kBytes);
    GST_BUFFER_PTS(silence) = tape->audioEnd;
    GST_BUFFER_DURATION(silence) = 40 * GST_MSECOND;
    gst_pad_chain(pad, silence);  // through this probe as well, ahead of the end
  }
  return OnMuxInput(pad, info, &tape->audioSegment);
}

// The silent track ends where the pictures end: once they did, the silence's next buffer is
// replaced by the end of its stream. (An end sent to the source itself would wait for its
// streaming thread, which may be waiting for the muxer, which waits for the pictures.)
GstPadProbeReturn OnVideoEnd(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) tape->videoEnded = true;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnSilence(GstPad* pad, GstPadProbeInfo*, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  if (!tape->videoEnded) return GST_PAD_PROBE_OK;
  if (!tape->silenceEnded.exchange(true)) {
    GstPad* peer = gst_pad_get_peer(pad);
    if (peer != nullptr) {
      gst_pad_send_event(peer, gst_event_new_eos());
      gst_object_unref(peer);
    }
  }
  return GST_PAD_PROBE_DROP;
}

void OnNoMorePads(GstElement*, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  std::lock_guard<std::mutex> guard(tape->lock);
  if (!tape->videoLinked) {
    PostError(tape->sink, "The clip has no pictures for the tape");
    return;
  }
  if (tape->audioLinked || tape->silence != nullptr) return;
  // No sound in the clip: the tape still gets a (silent) sound track.
  GstElement* silence = gst_element_factory_make("audiotestsrc", "Silence");
  if (silence == nullptr) {
    PostError(tape->sink, "No silent track for a clip without sound");
    return;
  }
  g_object_set(silence, "wave", 4 /* silence */, "samplesperbuffer", 1920, "is-live", FALSE,
               nullptr);
  gst_bin_add(GST_BIN(tape->pipeline), silence);
  GstPad* src = gst_element_get_static_pad(silence, "src");
  gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, OnSilence, tape, nullptr);
  tape->audioLinked = LinkPad(src, tape->audioIn);
  gst_object_unref(src);
  tape->silence = silence;
  gst_element_sync_state_with_parent(silence);
  if (!tape->audioLinked) PostError(tape->sink, "No silent track for a clip without sound");
}

// Stamps the muxer's chunks with the time of their frame, on a time segment of the tape.
GstPadProbeReturn OnCameraData(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    const DvSystem& system = tape->framer.System();
    const uint64_t frame = tape->stampedBytes / system.FrameBytes();
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(frame, GST_SECOND * system.FpsDen(),
                                                   static_cast<uint64_t>(system.FpsNum()));
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
    tape->stampedBytes += gst_buffer_get_size(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
  }
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event != nullptr && GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
    const GstSegment* in = nullptr;
    gst_event_parse_segment(event, &in);
    if (in != nullptr && in->format != GST_FORMAT_TIME) ReplaceWithPlainSegment(info, event);
  }
  return GST_PAD_PROBE_OK;
}

GstFlowReturn OnCameraSample(GstAppSink* sink, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (sample == nullptr) return GST_FLOW_FLUSHING;
  if (tape->failed) {
    gst_sample_unref(sample);
    return GST_FLOW_ERROR;
  }
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  DvFramer::Result result = DvFramer::Result::kOk;
  if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    Camcorder* camera = tape->camera.get();
    result = tape->framer.Push(map.data, map.size, [camera](const uint8_t* frame, size_t size) {
      return camera->WriteFrame(frame, size);
    });
    gst_buffer_unmap(buffer, &map);
  }
  gst_sample_unref(sample);
  if (result == DvFramer::Result::kOk) return GST_FLOW_OK;
  tape->failed = true;
  EndRecording(Recording::kFailed);
  if (result == DvFramer::Result::kBadFrame) {
    DbgLog(1, 4, "Tape: frame %llu of the DV stream has no header\n",
           static_cast<unsigned long long>(tape->framer.Frames()));
    // The tape must not go on recording a stream it cannot follow.
    tape->camera->SetMode(ED_MODE_STOP);
    PostError(GST_ELEMENT(sink), "The DV stream lost its frames");
  } else {
    PostError(GST_ELEMENT(sink), "The camcorder stopped recording");
  }
  return GST_FLOW_ERROR;
}

void OnCameraEos(GstAppSink*, gpointer data) {
  auto* tape = static_cast<TapeGraph*>(data);
  if (tape->framer.Pending() > 0)
    DbgLog(1, 4, "Tape: %zu bytes after the last whole frame are left out\n",
           tape->framer.Pending());
  // The end is reported once the frames handed over are on the tape.
  tape->camera->Drain();
  DbgLog(1, 4, "Tape: %llu frames recorded\n",
         static_cast<unsigned long long>(tape->framer.Frames()));
  EndRecording(tape->failed ? Recording::kFailed : Recording::kCompleted);
}

// Builds the tape graph on the library's pipeline. The clip's decoded pads are linked as the
// source offers them.
HRESULT BuildTapeGraph(const std::string& path, const std::shared_ptr<Camcorder>& camera) {
  GstElement* pipeline = Graph();
  if (pipeline == nullptr) return E_FAIL;
  auto tape = std::make_unique<TapeGraph>();
  TapeGraph* t = tape.get();
  t->camera = camera;
  t->pipeline = pipeline;
  Tape().graph = std::move(tape);

  GstElement* source = AddClipSource(path);
  if (source == nullptr) return E_FAIL;
  t->source = GST_ELEMENT(gst_object_ref(source));

  t->sink = Held(gst_element_factory_make("appsink", "Microsoft DV Camera and VCR"));
  GstElement* mux = gst_element_factory_make("avmux_dv", "DV Muxer");
  if (mux == nullptr) {
    DbgLog(0, -1, "Failed to create DV Mux\n");
    return E_FAIL;
  }
  gst_bin_add(GST_BIN(pipeline), mux);
  GstElement* encoder = gst_element_factory_make("avenc_dvvideo", "DV Video Encoder");
  if (encoder == nullptr) {
    DbgLog(0, -1, "Failed to create DV Encode\n");
    return E_FAIL;
  }
  // Slices of a picture are encoded on every core.
  g_object_set(encoder, "threads", 0, nullptr);
  gst_bin_add(GST_BIN(pipeline), encoder);
  GstElement* encoded = gst_element_factory_make("queue", "DV Video Queue");
  t->videoIn = MakeBin(
      "queue name=first max-size-buffers=8 max-size-bytes=0 max-size-time=0 ! videoconvert ! "
      "videoscale add-borders=true ! videorate ! capsfilter name=size ! "
      "queue max-size-buffers=8 max-size-bytes=0 max-size-time=0",
      "Video Decoder DMO");
  t->audioIn = MakeBin("queue ! audioconvert ! audioresample", "Audio Decoder DMO");
  GstElement* acm = MakeBin(
      "audiorate ! audio/x-raw,format=S16LE,rate=48000,channels=2,layout=interleaved ! queue",
      "ACM Wrapper");
  if (acm == nullptr) DbgLog(0, -1, "Failed to create InfTee\n");
  // A stage that could not be made has no pin to connect.
  if (t->videoIn == nullptr || t->audioIn == nullptr)
    DbgLog(0, -1, "GetUnconnectedPin::pFilter = NULL\n");
  if (t->sink == nullptr || encoded == nullptr || t->videoIn == nullptr || t->audioIn == nullptr ||
      acm == nullptr) {
    if (encoded != nullptr) gst_object_unref(gst_object_ref_sink(encoded));
    if (acm != nullptr) gst_object_unref(acm);
    return E_FAIL;
  }
  t->videoSize = gst_bin_get_by_name(GST_BIN(t->videoIn), "size");
  if (t->videoSize != nullptr) gst_object_unref(t->videoSize);  // the bin keeps it
  gst_bin_add_many(GST_BIN(pipeline), t->videoIn, encoded, t->audioIn, acm, t->sink, nullptr);
  gst_object_unref(acm);  // the graph keeps it

  bool linked =
      t->videoSize != nullptr && gst_element_link_many(t->videoIn, encoder, encoded, nullptr);
  GstPad* muxVideo = gst_element_request_pad_simple(mux, "video_%u");
  GstPad* muxAudio = gst_element_request_pad_simple(mux, "audio_%u");
  GstPad* encodedSrc = gst_element_get_static_pad(encoded, "src");
  GstPad* acmSrc = gst_element_get_static_pad(acm, "src");
  linked = linked && muxVideo != nullptr && muxAudio != nullptr &&
           gst_pad_link(encodedSrc, muxVideo) == GST_PAD_LINK_OK &&
           gst_element_link(t->audioIn, acm) && gst_pad_link(acmSrc, muxAudio) == GST_PAD_LINK_OK &&
           gst_element_link(mux, t->sink);
  if (linked) {
    const auto flow = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
    gst_segment_init(&t->videoSegment, GST_FORMAT_TIME);
    gst_segment_init(&t->audioSegment, GST_FORMAT_TIME);
    gst_pad_add_probe(muxVideo, flow, OnVideoMuxInput, t, nullptr);
    gst_pad_add_probe(muxAudio, flow, OnAudioMuxInput, t, nullptr);
    GstElement* first = gst_bin_get_by_name(GST_BIN(t->videoIn), "first");
    GstPad* in = gst_element_get_static_pad(first, "sink");
    GstPad* out = gst_element_get_static_pad(first, "src");
    gst_pad_add_probe(in, flow, OnPictureIn, t, nullptr);
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, OnPictureOut, t, nullptr);
    gst_object_unref(in);
    gst_object_unref(out);
    gst_object_unref(first);
  }
  for (GstPad* pad : {muxVideo, muxAudio, encodedSrc, acmSrc})
    if (pad != nullptr) gst_object_unref(pad);
  if (!linked) {
    DbgLog(1, 4, "Tape: the DV chain does not link\n");
    return E_FAIL;
  }

  // The silent track of a clip without sound follows the pictures' end.
  GstPad* videoOut = gst_element_get_static_pad(encoder, "sink");
  gst_pad_add_probe(videoOut, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnVideoEnd, t, nullptr);
  gst_object_unref(videoOut);

  GstAppSinkCallbacks callbacks{};
  callbacks.eos = OnCameraEos;
  callbacks.new_sample = OnCameraSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(t->sink), &callbacks, t, nullptr);
  g_object_set(t->sink, "sync", camera->WantsClockPace() ? TRUE : FALSE, "max-buffers", 4,
               "enable-last-sample", FALSE, nullptr);
  SetRecordingSink(t->sink);
  GstPad* sinkPad = gst_element_get_static_pad(t->sink, "sink");
  gst_pad_add_probe(
      sinkPad,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      OnCameraData, t, nullptr);
  gst_object_unref(sinkPad);

  t->padAddedId = g_signal_connect(source, "pad-added", G_CALLBACK(OnSourcePad), t);
  t->noMorePadsId = g_signal_connect(source, "no-more-pads", G_CALLBACK(OnNoMorePads), t);
  return S_OK;
}

// Gives up a recording that did not start: the transport stops, the graph goes, the library is
// left as plyInit leaves it.
void EndRecording(Recording how) {
  Recording running = Recording::kRunning;
  Tape().recording.compare_exchange_strong(running, how);
}

void AbandonTape() {
  plyCleanUp();
  plyInit();
}

}  // namespace

void ReleaseTape() {
  TapeState& state = Tape();
  // Released before the camcorder had the clip's end: stopped, or ended by an error.
  EndRecording(Recording::kFailed);
  SetRecordingSink(nullptr);
  if (std::unique_ptr<TapeGraph> tape = std::move(state.graph)) {
    if (tape->source != nullptr) {
      if (tape->padAddedId != 0) g_signal_handler_disconnect(tape->source, tape->padAddedId);
      if (tape->noMorePadsId != 0) g_signal_handler_disconnect(tape->source, tape->noMorePadsId);
      gst_object_unref(tape->source);
    }
    if (tape->sink != nullptr) {
      GstAppSinkCallbacks none{};
      gst_app_sink_set_callbacks(GST_APP_SINK(tape->sink), &none, nullptr, nullptr);
    }
    for (GstElement* e : {tape->videoIn, tape->audioIn, tape->sink}) {
      if (e == nullptr) continue;
      gst_element_set_state(e, GST_STATE_NULL);
      gst_object_unref(e);
    }
    // A recording the host did not stop does not leave the tape running.
    if (tape->camera != nullptr) {
      if (tape->camera->Mode() == ED_MODE_RECORD) tape->camera->SetMode(ED_MODE_STOP);
      tape->camera->EndStream();
    }
  }
  if (state.camera != nullptr && state.camera->Mode() == ED_MODE_RECORD)
    state.camera->SetMode(ED_MODE_STOP);
  state.camera.reset();
}

}  // namespace plyex

using namespace plyex;

QMVPLYEX_API BOOL FindVtr(void) {
  TapeState& state = Tape();
  state.camera.reset();
  std::unique_ptr<CamcorderBus> bus = MakeCamcorderBus();
  std::unique_ptr<Camcorder> found = FindCamcorder(*bus);
  if (found == nullptr) return FALSE;
  state.camera = std::move(found);
  return TRUE;
}

QMVPLYEX_API BOOL ExportToTape(const char* path) {
  if (plyIsPlaying()) plyStop();
  plyCleanUp();
  plyInit();
  Tape().recording = Recording::kNone;
  if (!FindVtr()) return FALSE;
  const std::string clip = path != nullptr ? path : "";
  SetUrl(clip.c_str());
  std::shared_ptr<Camcorder> camera = Tape().camera;
  // Every link is made by the end of the preroll, and the first DV chunk is at the camcorder.
  if (FAILED(BuildTapeGraph(clip, camera)) || FAILED(PrerollGraph()) ||
      FAILED(AcquireGraphControls())) {
    DbgLog(0, -1, "Failed to render the tape Graph\n");
    AbandonTape();
    return FALSE;
  }
  DvSystem system;
  {
    TapeGraph* tape = Tape().graph.get();
    std::lock_guard<std::mutex> guard(tape->lock);
    system = tape->system;
  }
  // The tape runs before the first frame arrives, so that the clip is recorded from its start.
  if (!camera->BeginStream(system)) {
    DbgLog(1, 4, "Tape: the camcorder does not take the DV stream\n");
    AbandonTape();
    return FALSE;
  }
  if (!camera->SetMode(ED_MODE_RECORD)) {
    DbgLog(1, 4, "Tape: the camcorder does not record\n");
    AbandonTape();
    return FALSE;
  }
  bool running = SUCCEEDED(plyStart());
  if (running) {
    GstState now = GST_STATE_NULL;
    const GstStateChangeReturn ret = gst_element_get_state(Graph(), &now, nullptr, kRunTimeout);
    running = ret != GST_STATE_CHANGE_FAILURE && now == GST_STATE_PLAYING;
  }
  if (!running) {
    DbgLog(1, 4, "Tape: the tape graph does not run\n");
    AbandonTape();
    return FALSE;
  }
  Tape().recording = Recording::kRunning;
  return TRUE;
}

QMVPLYEX_API int GetTapeResult(void) {
  switch (Tape().recording.load()) {
    case Recording::kCompleted:
      return 1;
    case Recording::kFailed:
      return -1;
    default:
      return 0;
  }
}

QMVPLYEX_API void CtrlVtr(int command) {
  TapeState& state = Tape();
  if (state.camera == nullptr || command < kVtrStop || command > kVtrFastForward) return;
  state.camera->SetMode(kModes[command]);
}
