// A decoder for one stream of an opened input, freed with its owner: what the output checks of
// the test support library decode with.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace testutil {

struct AvDecoder {
  AVCodecContext* ctx = nullptr;
  AvDecoder() = default;
  AvDecoder(const AvDecoder&) = delete;
  AvDecoder& operator=(const AvDecoder&) = delete;
  ~AvDecoder() { avcodec_free_context(&ctx); }
  bool Open(const AVStream* st) {
    const AVCodec* c = avcodec_find_decoder(st->codecpar->codec_id);
    if (c == nullptr) return false;
    ctx = avcodec_alloc_context3(c);
    if (ctx == nullptr || avcodec_parameters_to_context(ctx, st->codecpar) < 0) return false;
    ctx->pkt_timebase = st->time_base;
    return avcodec_open2(ctx, c, nullptr) >= 0;
  }
};

}  // namespace testutil
