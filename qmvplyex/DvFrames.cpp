#include "DvFrames.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>

namespace plyex {

DvSystem DvSystemForRate(int num, int den) {
  DvSystem system;
  if (num > 0 && den > 0) system.pal = static_cast<double>(num) / den < 27.5;
  return system;
}

bool IsDvFrameStart(const uint8_t* frame, size_t size, const DvSystem& system) {
  if (size < 4) return false;
  // Section type 0 (header), DIF sequence 0, block 0; the DSF bit tells 625/50 from 525/60.
  return (frame[0] & 0xE0) == 0 && (frame[1] & 0xF0) == 0 && frame[2] == 0 &&
         ((frame[3] & 0x80) != 0) == system.pal;
}

void DvFramer::Reset(const DvSystem& system) {
  system_ = system;
  frame_.assign(system.FrameBytes(), 0);
  fill_ = 0;
  frames_ = 0;
  bytes_ = 0;
}

DvFramer::Result DvFramer::Push(const uint8_t* data, size_t size, const FrameFn& onFrame) {
  bytes_ += size;
  const size_t frameBytes = frame_.size();
  while (size > 0) {
    const size_t take = std::min(size, frameBytes - fill_);
    std::memcpy(frame_.data() + fill_, data, take);
    fill_ += take;
    data += take;
    size -= take;
    if (fill_ < frameBytes) break;
    fill_ = 0;
    if (!IsDvFrameStart(frame_.data(), frameBytes, system_)) return Result::kBadFrame;
    ++frames_;
    if (!onFrame(frame_.data(), frameBytes)) return Result::kRefused;
  }
  return Result::kOk;
}

std::vector<uint8_t> MakeBlackDvFrame(const DvSystem& system) {
  std::vector<uint8_t> out;
  gchar* desc = g_strdup_printf(
      "videotestsrc pattern=black num-buffers=1 ! "
      "video/x-raw,format=%s,width=720,height=%d,framerate=%d/%d,pixel-aspect-ratio=%s ! "
      "avenc_dvvideo ! mux.video_0 "
      "audiotestsrc wave=silence num-buffers=1 samplesperbuffer=%d ! "
      "audio/x-raw,format=S16LE,rate=48000,channels=2,layout=interleaved ! mux.audio_0 "
      "avmux_dv name=mux ! appsink name=out sync=false",
      system.pal ? "I420" : "Y41B", system.Height(), system.FpsNum(), system.FpsDen(),
      system.pal ? "16/15" : "8/9", system.pal ? 1920 : 1602);
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(desc, &error);
  g_free(desc);
  g_clear_error(&error);
  if (pipeline == nullptr) return out;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  if (sink != nullptr &&
      gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
    for (;;) {
      GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
      if (sample == nullptr) break;
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      GstMapInfo map;
      if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        out.insert(out.end(), map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
      }
      gst_sample_unref(sample);
      if (out.size() >= system.FrameBytes()) break;
    }
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  if (sink != nullptr) gst_object_unref(sink);
  gst_object_unref(pipeline);
  if (out.size() < system.FrameBytes() || !IsDvFrameStart(out.data(), out.size(), system))
    return {};
  out.resize(system.FrameBytes());
  return out;
}

}  // namespace plyex
