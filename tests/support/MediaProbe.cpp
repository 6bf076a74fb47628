#include "MediaProbe.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "AvDecoder.h"
#include "ClipGen.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace probe {

namespace {

std::atomic<int> g_logErrors{0};

void CountingLog(void* avcl, int level, const char* fmt, va_list vl) {
  if (level <= AV_LOG_ERROR) g_logErrors++;
  if (level <= AV_LOG_WARNING) av_log_default_callback(avcl, level, fmt, vl);
}

AVFormatContext* OpenAsf(const std::string& path) {
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, path.c_str(), av_find_input_format("asf"), nullptr) < 0)
    return nullptr;
  if (avformat_find_stream_info(ctx, nullptr) < 0) {
    avformat_close_input(&ctx);
    return nullptr;
  }
  return ctx;
}

int64_t ToMs(int64_t ts, AVRational tb) {
  return av_rescale_q(ts, tb, AVRational{1, 1000});
}

Frame ToFrame(const AVFrame* f, AVRational tb) {
  Frame out;
  int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
  out.ptsMs = ts == AV_NOPTS_VALUE ? -1 : ToMs(ts, tb);
  out.width = f->width;
  out.height = f->height;
  out.bgra.resize(static_cast<size_t>(f->width) * f->height * 4);
  SwsContext* sws =
      sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                     f->height, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
  uint8_t* dst[4] = {out.bgra.data(), nullptr, nullptr, nullptr};
  int stride[4] = {f->width * 4, 0, 0, 0};
  sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
  sws_freeContext(sws);
  out.code = clipgen::ReadFrameCode(out.bgra.data(), out.width, out.height, out.width * 4);
  return out;
}

}  // namespace

Clip ReadClip(const std::string& path) {
  Clip clip;
  AVFormatContext* ctx = OpenAsf(path);
  if (ctx == nullptr) return clip;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) clip.videoStreams++;
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) clip.audioStreams++;
    clip.bitRates.push_back(ctx->streams[i]->codecpar->bit_rate);
    const AVDictionaryEntry* lang = av_dict_get(ctx->streams[i]->metadata, "language", nullptr, 0);
    clip.languages.push_back(lang != nullptr ? lang->value : "");
  }
  if (const AVDictionaryEntry* t = av_dict_get(ctx->metadata, "title", nullptr, 0))
    clip.title = t->value;
  if (ctx->duration != AV_NOPTS_VALUE) clip.durationMs = ctx->duration / 1000;
  av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BACKWARD);
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(ctx, pkt) >= 0) {
    const AVStream* st = ctx->streams[pkt->stream_index];
    Packet p;
    p.stream = pkt->stream_index;
    p.video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    p.ptsMs = ToMs(pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts, st->time_base);
    p.durationMs = ToMs(pkt->duration, st->time_base);
    p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    p.size = pkt->size;
    p.pos = pkt->pos;
    clip.packets.push_back(p);
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  avformat_close_input(&ctx);
  clip.ok = true;
  return clip;
}

DecodeResult DecodeAll(const std::string& path) {
  DecodeResult r;
  av_log_set_callback(CountingLog);
  g_logErrors = 0;
  AVFormatContext* ctx = OpenAsf(path);
  if (ctx == nullptr) {
    av_log_set_callback(av_log_default_callback);
    return r;
  }
  std::vector<testutil::AvDecoder> dec(ctx->nb_streams);
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    if (!dec[i].Open(ctx->streams[i])) r.errors++;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&](unsigned i) {
    while (avcodec_receive_frame(dec[i].ctx, frame) >= 0) {
      if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        r.videoFrames++;
      else
        r.audioFrames++;
      av_frame_unref(frame);
    }
  };
  int rr;
  while ((rr = av_read_frame(ctx, pkt)) >= 0) {
    unsigned i = static_cast<unsigned>(pkt->stream_index);
    if (dec[i].ctx != nullptr) {
      if (avcodec_send_packet(dec[i].ctx, pkt) < 0) r.errors++;
      drain(i);
    }
    av_packet_unref(pkt);
  }
  if (rr != AVERROR_EOF) r.errors++;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    if (dec[i].ctx == nullptr) continue;
    avcodec_send_packet(dec[i].ctx, nullptr);
    drain(i);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avformat_close_input(&ctx);
  r.errors += g_logErrors;
  av_log_set_callback(av_log_default_callback);
  r.ok = true;
  return r;
}

std::vector<Frame> DecodeVideo(const std::string& path, int maxFrames) {
  std::vector<Frame> frames;
  AVFormatContext* ctx = OpenAsf(path);
  if (ctx == nullptr) return frames;
  int vi = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  testutil::AvDecoder dec;
  if (vi < 0 || !dec.Open(ctx->streams[vi])) {
    avformat_close_input(&ctx);
    return frames;
  }
  av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BACKWARD);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool more = true;
  while (more && (maxFrames < 0 || static_cast<int>(frames.size()) < maxFrames)) {
    if (av_read_frame(ctx, pkt) < 0) {
      avcodec_send_packet(dec.ctx, nullptr);
      more = false;
    } else {
      if (pkt->stream_index == vi) avcodec_send_packet(dec.ctx, pkt);
      av_packet_unref(pkt);
    }
    while (avcodec_receive_frame(dec.ctx, frame) >= 0) {
      frames.push_back(ToFrame(frame, ctx->streams[vi]->time_base));
      av_frame_unref(frame);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avformat_close_input(&ctx);
  return frames;
}

Frame FrameAt(const std::string& path, int64_t ms) {
  Frame out;
  AVFormatContext* ctx = OpenAsf(path);
  if (ctx == nullptr) return out;
  int vi = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  testutil::AvDecoder dec;
  if (vi < 0 || !dec.Open(ctx->streams[vi])) {
    avformat_close_input(&ctx);
    return out;
  }
  AVRational tb = ctx->streams[vi]->time_base;
  av_seek_frame(ctx, vi, av_rescale_q(ms, AVRational{1, 1000}, tb), AVSEEK_FLAG_BACKWARD);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool done = false, more = true;
  while (!done && more) {
    if (av_read_frame(ctx, pkt) < 0) {
      avcodec_send_packet(dec.ctx, nullptr);
      more = false;
    } else {
      if (pkt->stream_index == vi) avcodec_send_packet(dec.ctx, pkt);
      av_packet_unref(pkt);
    }
    while (!done && avcodec_receive_frame(dec.ctx, frame) >= 0) {
      Frame f = ToFrame(frame, tb);
      if (f.ptsMs >= ms) {
        out = std::move(f);
        done = true;
      }
      av_frame_unref(frame);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avformat_close_input(&ctx);
  return out;
}

bool HasSimpleIndex(const std::string& path) {
  // ASF_Simple_Index_Object 33000890-E5B1-11CF-89F4-00A0C90349CB, as stored.
  static const unsigned char guid[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                         0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
  std::ifstream in(path, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return data.find(std::string(reinterpret_cast<const char*>(guid), 16)) != std::string::npos;
}

}  // namespace probe
