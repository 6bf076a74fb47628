#include "DvCheck.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "AvDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace dvcheck {

namespace {

struct Gray {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct Input {
  AVFormatContext* ctx = nullptr;
  ~Input() { avformat_close_input(&ctx); }
};

Gray ToGray(const AVFrame* f) {
  Gray g;
  g.width = f->width;
  g.height = f->height;
  g.pixels.resize(static_cast<size_t>(f->width) * f->height);
  SwsContext* sws =
      sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                     f->height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr, nullptr, nullptr);
  uint8_t* dst[4] = {g.pixels.data(), nullptr, nullptr, nullptr};
  int stride[4] = {f->width, 0, 0, 0};
  sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
  sws_freeContext(sws);
  return g;
}

// Every decoded picture of the file's first video stream, in gray.
std::vector<Gray> Pictures(const std::string& path, AVRational* sar) {
  std::vector<Gray> out;
  Input in;
  if (avformat_open_input(&in.ctx, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(in.ctx, nullptr) < 0)
    return out;
  const int vi = av_find_best_stream(in.ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  testutil::AvDecoder dec;
  if (vi < 0 || !dec.Open(in.ctx->streams[vi])) return out;
  if (sar != nullptr) *sar = in.ctx->streams[vi]->codecpar->sample_aspect_ratio;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool more = true;
  while (more) {
    if (av_read_frame(in.ctx, pkt) < 0) {
      avcodec_send_packet(dec.ctx, nullptr);
      more = false;
    } else {
      if (pkt->stream_index == vi) avcodec_send_packet(dec.ctx, pkt);
      av_packet_unref(pkt);
    }
    while (avcodec_receive_frame(dec.ctx, frame) >= 0) {
      out.push_back(ToGray(frame));
      av_frame_unref(frame);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  return out;
}

// The clip's picture on the tape's frame: scaled into `r`, black around it.
Gray Letterbox(const Gray& src, int width, int height, const Rect& r) {
  Gray g;
  g.width = width;
  g.height = height;
  g.pixels.assign(static_cast<size_t>(width) * height, 16);
  SwsContext* sws = sws_getContext(src.width, src.height, AV_PIX_FMT_GRAY8, r.width, r.height,
                                   AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const uint8_t* in[4] = {src.pixels.data(), nullptr, nullptr, nullptr};
  int inStride[4] = {src.width, 0, 0, 0};
  uint8_t* dst[4] = {g.pixels.data() + static_cast<size_t>(r.y) * width + r.x, nullptr, nullptr,
                     nullptr};
  int stride[4] = {width, 0, 0, 0};
  sws_scale(sws, in, inStride, 0, src.height, dst, stride);
  sws_freeContext(sws);
  return g;
}

// Luma PSNR inside the picture, a few pixels in from its edges.
double Psnr(const Gray& a, const Gray& b, const Rect& r) {
  constexpr int kMargin = 4;
  double sum = 0;
  int64_t n = 0;
  for (int y = r.y + kMargin; y < r.y + r.height - kMargin; ++y) {
    for (int x = r.x + kMargin; x < r.x + r.width - kMargin; ++x) {
      const double d = static_cast<double>(a.pixels[static_cast<size_t>(y) * a.width + x]) -
                       b.pixels[static_cast<size_t>(y) * b.width + x];
      sum += d * d;
      ++n;
    }
  }
  if (n == 0) return 0;
  const double mse = sum / static_cast<double>(n);
  return mse <= 1e-9 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

bool Report::IsDv() const {
  return opened && videoCodec == "dvvideo" && (IsPal() || IsNtsc()) && audioCodec == "pcm_s16le" &&
         sampleRate == 48000 && channels == 2;
}

std::string Report::Describe() const {
  char text[512];
  std::snprintf(text, sizeof text,
                "%s %dx%d@%d/%d, %s %d Hz x%d; %d frames (%.2f s), %lld samples (%.2f s); "
                "%lld bytes%s, %d decode errors; PSNR mean %.1f min %.1f dB over %d; sound %.1f dB",
                videoCodec.c_str(), width, height, fpsNum, fpsDen, audioCodec.c_str(), sampleRate,
                channels, videoFrames, videoSeconds, static_cast<long long>(audioSamples),
                audioSeconds, static_cast<long long>(fileBytes),
                wholeFrames ? " (whole frames)" : "", decodeErrors, meanPsnr, minPsnr,
                comparedFrames, soundDb);
  return text;
}

Report Check(const std::string& tape, const std::string& clip) {
  av_log_set_level(AV_LOG_ERROR);  // a raw DV file has no declared length: no notes about that
  Report r;
  std::error_code ec;
  r.fileBytes = static_cast<int64_t>(std::filesystem::file_size(tape, ec));
  if (ec) return r;
  Input in;
  if (avformat_open_input(&in.ctx, tape.c_str(), av_find_input_format("dv"), nullptr) < 0 ||
      avformat_find_stream_info(in.ctx, nullptr) < 0)
    return r;
  const int vi = av_find_best_stream(in.ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int ai = av_find_best_stream(in.ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  testutil::AvDecoder vdec;
  testutil::AvDecoder adec;
  if (vi < 0 || !vdec.Open(in.ctx->streams[vi])) return r;
  r.opened = true;
  const AVStream* vs = in.ctx->streams[vi];
  r.videoCodec = avcodec_get_name(vs->codecpar->codec_id);
  r.width = vs->codecpar->width;
  r.height = vs->codecpar->height;
  AVRational rate = av_guess_frame_rate(in.ctx, in.ctx->streams[vi], nullptr);
  r.fpsNum = rate.num;
  r.fpsDen = rate.den;
  const int frameBytes = r.height == 576 ? 144000 : 120000;
  r.wholeFrames = r.fileBytes > 0 && r.fileBytes % frameBytes == 0;
  if (ai >= 0 && adec.Open(in.ctx->streams[ai])) {
    const AVStream* as = in.ctx->streams[ai];
    r.audioCodec = avcodec_get_name(as->codecpar->codec_id);
    r.sampleRate = as->codecpar->sample_rate;
    r.channels = as->codecpar->ch_layout.nb_channels;
  }

  std::vector<Gray> pictures;
  double squares = 0;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drainVideo = [&] {
    while (avcodec_receive_frame(vdec.ctx, frame) >= 0) {
      ++r.videoFrames;
      if (!clip.empty()) pictures.push_back(ToGray(frame));
      av_frame_unref(frame);
    }
  };
  auto drainAudio = [&] {
    while (adec.ctx != nullptr && avcodec_receive_frame(adec.ctx, frame) >= 0) {
      r.audioSamples += frame->nb_samples;
      if (frame->format == AV_SAMPLE_FMT_S16) {
        const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
        const int n = frame->nb_samples * frame->ch_layout.nb_channels;
        for (int i = 0; i < n; ++i) squares += static_cast<double>(s[i]) * s[i];
      }
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(in.ctx, pkt) >= 0) {
    if (pkt->stream_index == vi) {
      if (avcodec_send_packet(vdec.ctx, pkt) < 0) ++r.decodeErrors;
      drainVideo();
    } else if (pkt->stream_index == ai && adec.ctx != nullptr) {
      if (avcodec_send_packet(adec.ctx, pkt) < 0) ++r.decodeErrors;
      drainAudio();
    }
    av_packet_unref(pkt);
  }
  avcodec_send_packet(vdec.ctx, nullptr);
  drainVideo();
  if (adec.ctx != nullptr) {
    avcodec_send_packet(adec.ctx, nullptr);
    drainAudio();
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  if (r.fpsNum > 0) r.videoSeconds = r.videoFrames * static_cast<double>(r.fpsDen) / r.fpsNum;
  if (r.sampleRate > 0) r.audioSeconds = static_cast<double>(r.audioSamples) / r.sampleRate;
  if (r.audioSamples > 0 && r.channels > 0) {
    const double rms = std::sqrt(squares / (static_cast<double>(r.audioSamples) * r.channels));
    r.soundDb = rms > 0 ? 20.0 * std::log10(rms / 32768.0) : -200;
  }

  if (clip.empty() || pictures.empty()) return r;
  AVRational sar{1, 1};
  std::vector<Gray> source = Pictures(clip, &sar);
  if (source.empty()) return r;
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  // The picture keeps its shape on the 4:3 frame: full width and bands above and below for a
  // wider picture, full height and bands at the sides for a narrower one.
  const double dar = static_cast<double>(source[0].width) * sar.num / (source[0].height * sar.den);
  const double par = r.height == 576 ? 16.0 / 15.0 : 8.0 / 9.0;
  Rect box;
  if (dar >= 4.0 / 3.0) {
    box.width = r.width;
    box.height = static_cast<int>(std::lround(r.width * par / dar));
  } else {
    box.height = r.height;
    box.width = static_cast<int>(std::lround(r.height * dar / par));
  }
  box.x = (r.width - box.width) / 2;
  box.y = (r.height - box.height) / 2;

  // Rounding of the band sizes and the first picture's time may differ by a little: the closest
  // fit of a picture in the middle decides both.
  const size_t mid = std::min(pictures.size(), source.size()) / 2;
  double best = -1;
  Rect bestBox = box;
  int bestShift = 0;
  for (int shift = -2; shift <= 2; ++shift) {
    const long k = static_cast<long>(mid) + shift;
    if (k < 0 || k >= static_cast<long>(source.size())) continue;
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dh = -2; dh <= 2; ++dh) {
        Rect b = box;
        if (box.width == r.width) {
          b.y += dy;
          b.height += dh;
        } else {
          b.x += dy;
          b.width += dh;
        }
        if (b.x < 0 || b.y < 0 || b.x + b.width > r.width || b.y + b.height > r.height) continue;
        const double p = Psnr(pictures[mid], Letterbox(source[k], r.width, r.height, b), b);
        if (p > best) {
          best = p;
          bestBox = b;
          bestShift = shift;
        }
      }
    }
  }
  double sum = 0;
  r.minPsnr = 1e9;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const long k = static_cast<long>(i) + bestShift;
    if (k < 0 || k >= static_cast<long>(source.size())) continue;
    const double p = Psnr(pictures[i], Letterbox(source[k], r.width, r.height, bestBox), bestBox);
    sum += p;
    r.minPsnr = std::min(r.minPsnr, p);
    ++r.comparedFrames;
  }
  if (r.comparedFrames > 0)
    r.meanPsnr = sum / r.comparedFrames;
  else
    r.minPsnr = 0;
  return r;
}

}  // namespace dvcheck
