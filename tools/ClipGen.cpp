#include "ClipGen.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <memory>
#include <numbers>
#include <system_error>
#include <vector>

#include "AsfObjects.h"
#include "AsfPatch.h"

namespace clipgen {
namespace {

// ---------------------------------------------------------------------------------------------
// Picture layout
//
// The top band of every picture carries the frame index (mod 65536) as 16 cells across the width,
// most significant bit on the left, light = 1, dark = 0. Below that row sits a second row with
// the complement of each bit, so a reader can tell a real code from a flat or foreign picture.
// The band is kept free of noise and its height is a multiple of 16 rows, so no macroblock mixes
// band and background. The rest of the picture is a moving colour gradient with per-frame noise.
//
// Dark and light are grey levels 120 apart rather than full black and white: a cell flipping
// between two pictures then stays within the coefficient range MS-MPEG4 can code at quantiser 2,
// so the encoder never has to clip (and complain about) the residual.

constexpr int kCodeBits = 16;
constexpr int kMinCell = 8;
constexpr int kMaxCellHeight = 32;
constexpr uint8_t kDarkY = 60;
constexpr uint8_t kLightY = 180;
constexpr uint8_t kNeutralC = 128;

struct CodeLayout {
  int cellW = 0;  // width of one cell; 16 cells start at the left edge
  int cellH = 0;  // height of one cell row (code row, then complement row)
  int bandH = 0;  // rows reserved for the code at the top of the picture
  bool fits = false;
};

CodeLayout LayoutFor(int width, int height) {
  CodeLayout l;
  l.cellW = width / kCodeBits;
  l.cellH = std::clamp(l.cellW / 8 * 8, kMinCell, kMaxCellHeight);
  l.bandH = 2 * l.cellH;
  l.fits = l.cellW >= kMinCell && height >= 2 * l.bandH;
  return l;
}

// ---------------------------------------------------------------------------------------------
// FFmpeg object ownership

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct OutputFree {
  void operator()(AVFormatContext* s) const {
    if (s->pb) avio_closep(&s->pb);
    avformat_free_context(s);
  }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_make_error_string(buf, sizeof(buf), code);
  return buf;
}

uint32_t XorShift(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

// ---------------------------------------------------------------------------------------------
// Picture source

class PictureSource {
 public:
  // noiseMask: per-pixel noise is (random & noiseMask) - (noiseMask + 1) / 2, noiseMask <= 31.
  PictureSource(int width, int height, int noiseMask)
      : width_(width), height_(height), noiseMask_(noiseMask), noiseBias_((noiseMask + 1) / 2) {
    layout_ = LayoutFor(width, height);
    // A triangle wave of period 512, kept away from the extremes so that adding noise never
    // needs clamping. Stored long enough that any row can start anywhere in the first period.
    ramp_.resize(kPeriod + std::max(width, height) + 8);
    for (size_t i = 0; i < ramp_.size(); ++i) {
      int p = static_cast<int>(i % kPeriod);
      int tri = p < kPeriod / 2 ? p : kPeriod - 1 - p;  // 0..255
      ramp_[i] = static_cast<uint8_t>(kRampLow + tri * (kRampHigh - kRampLow) / 255);
    }
  }

  void Draw(AVFrame* f, int64_t index) const {
    const int band = layout_.fits ? layout_.bandH : 0;
    DrawBackground(f, index, band);
    if (layout_.fits) DrawCode(f, static_cast<unsigned>(index) & 0xffffu);
  }

 private:
  static constexpr int kPeriod = 512;
  static constexpr int kRampLow = 40;
  static constexpr int kRampHigh = 215;

  // The gradient pans left by two pixels a picture (one chroma sample), a motion the encoder's
  // search can follow exactly; only the noise is new in each picture.
  void DrawBackground(AVFrame* f, int64_t index, int band) const {
    const int shift = static_cast<int>((index * 2) % kPeriod);
    uint32_t rng = static_cast<uint32_t>(index) * 0x9E3779B9u ^ 0x6C8E9CF5u;
    if (rng == 0) rng = 1;
    for (int y = band; y < height_; ++y) {
      uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
      const uint8_t* src = ramp_.data() + (y + shift) % kPeriod;
      int x = 0;
      for (; x + 4 <= width_; x += 4) {
        uint32_t r = XorShift(rng);
        for (int k = 0; k < 4; ++k) {
          int n = static_cast<int>((r >> (8 * k)) & noiseMask_) - noiseBias_;
          row[x + k] = static_cast<uint8_t>(src[x + k] + n);
        }
      }
      for (; x < width_; ++x) row[x] = src[x];
    }
    const int cw = (width_ + 1) / 2;
    const int ch = (height_ + 1) / 2;
    // U varies across the picture and pans with the luma; V varies down it and stays put.
    const uint8_t* usrc = ramp_.data() + shift;
    for (int y = band / 2; y < ch; ++y) {
      uint8_t* u = f->data[1] + static_cast<ptrdiff_t>(y) * f->linesize[1];
      uint8_t* v = f->data[2] + static_cast<ptrdiff_t>(y) * f->linesize[2];
      for (int x = 0; x < cw; ++x) u[x] = usrc[2 * x];
      std::memset(v, ramp_[(2 * y + kPeriod / 4) % kPeriod], cw);
    }
  }

  void DrawCode(AVFrame* f, unsigned code) const {
    const CodeLayout& l = layout_;
    for (int y = 0; y < l.bandH; ++y) {
      uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
      const bool complement = y >= l.cellH;
      std::memset(row, kDarkY, width_);
      for (int b = 0; b < kCodeBits; ++b) {
        bool one = ((code >> (kCodeBits - 1 - b)) & 1u) != 0;
        if (one != complement) std::memset(row + b * l.cellW, kLightY, l.cellW);
      }
    }
    const int cw = (width_ + 1) / 2;
    for (int y = 0; y < l.bandH / 2; ++y) {
      std::memset(f->data[1] + static_cast<ptrdiff_t>(y) * f->linesize[1], kNeutralC, cw);
      std::memset(f->data[2] + static_cast<ptrdiff_t>(y) * f->linesize[2], kNeutralC, cw);
    }
  }

  int width_;
  int height_;
  int noiseMask_;
  int noiseBias_;
  CodeLayout layout_;
  std::vector<uint8_t> ramp_;
};

// ---------------------------------------------------------------------------------------------
// Clip writer

bool CheckSpec(const ClipSpec& s, std::string* why) {
  auto fail = [&](const std::string& m) {
    *why = m;
    return false;
  };
  if (s.durationMs <= 0) return fail("duration must be positive");
  if (!s.video && s.audioTracks <= 0) return fail("the clip needs video or audio");
  if (s.audioTracks < 0 || s.audioTracks > 8) return fail("audio track count must be 0..8");
  if (s.video) {
    if (s.width <= 0 || s.height <= 0) return fail("picture size must be positive");
    if (s.width % 2 || s.height % 2) return fail("picture width and height must be even");
    if (s.width > 4096 || s.height > 4096) return fail("picture size is limited to 4096x4096");
    if (s.fpsNum <= 0 || s.fpsDen <= 0) return fail("frame rate must be positive");
    if (s.keyIntervalMs <= 0) return fail("key frame interval must be positive");
    if (s.videoBitRate <= 0) return fail("video bit rate must be positive");
    if (s.videoCodec != "wmv1" && s.videoCodec != "wmv2" && s.videoCodec != "msmpeg4")
      return fail("unknown video codec '" + s.videoCodec + "' (wmv1, wmv2 or msmpeg4)");
  }
  if (s.audioTracks > 0) {
    if (s.sampleRate <= 0) return fail("sample rate must be positive");
    if (s.channels <= 0) return fail("channel count must be positive");
    if (s.audioBitRate <= 0) return fail("audio bit rate must be positive");
    if (s.audioCodec != "wmav1" && s.audioCodec != "wmav2")
      return fail("unknown audio codec '" + s.audioCodec + "' (wmav1 or wmav2)");
  }
  if (s.audioLeadMs < 0 || s.audioLeadMs > 60000) return fail("audio lead must be 0..60000 ms");
  if (s.audioLeadMs > 0 && (!s.video || s.audioTracks == 0))
    return fail("an audio lead needs both video and audio");
  for (int t : s.keyFramesMs)
    if (t < 0 || t >= s.durationMs) return fail("key frame times must lie within the clip");
  if (!s.keyFramesMs.empty() && !s.video) return fail("key frame times need video");
  if (s.encoderHeader && (s.bufferMs <= 0 || s.language.empty() || s.language.size() > 100))
    return fail("an encoder header needs a positive buffer and a language name");
  return true;
}

class ClipWriter {
 public:
  ClipWriter(const ClipSpec& params, std::string* error) : spec_(params), error_(*error) {}

  bool Write(const std::string& file, const std::string& shownName) {
    shownName_ = shownName;
    file_ = file;
    return Open(file) && EncodeAll() && Finish();
  }

 private:
  struct AudioTrack {
    CodecContextPtr enc;
    AVStream* stream = nullptr;
    FramePtr frame;
    int64_t nextSample = 0;
    int frequency = 0;
    bool sentAll = false;
  };

  bool Fail(const std::string& what, int err = 0) {
    error_ = err ? what + ": " + AvError(err) : what;
    return false;
  }

  bool Open(const std::string& file) {
    AVFormatContext* raw = nullptr;
    int err = avformat_alloc_output_context2(&raw, nullptr, "asf", nullptr);
    if (err < 0 || !raw) return Fail("cannot set up the ASF muxer", err);
    out_.reset(raw);
    out_->flags |= AVFMT_FLAG_BITEXACT;
    packet_.reset(av_packet_alloc());
    if (!packet_) return Fail("out of memory");

    if (spec_.video && !OpenVideo()) return false;
    for (int t = 0; t < spec_.audioTracks; ++t)
      if (!OpenAudio(t)) return false;

    if (spec_.audioLeadMs > 0 && !SetUpLead()) return false;

    // The "file:" prefix keeps names with a colon from being taken for another protocol.
    err = avio_open(&out_->pb, ("file:" + file).c_str(), AVIO_FLAG_WRITE);
    if (err < 0) return Fail("cannot create " + shownName_, err);
    err = avformat_write_header(out_.get(), nullptr);
    if (err < 0) return Fail("cannot write the ASF header", err);
    if (spec_.audioLeadMs > 0) {
      // The muxer adds its own preroll to every time; a longer lead needs a longer one, which the
      // header gets once the clip is written, with every time moved on by the difference.
      avio_flush(out_->pb);
      uint64_t muxerPreroll = 0;
      if (!PrerollField(file, nullptr, &muxerPreroll)) return false;
      prerollMs_ = std::max<int64_t>(static_cast<int64_t>(muxerPreroll), spec_.audioLeadMs);
      shiftMs_ = prerollMs_ - static_cast<int64_t>(muxerPreroll);
    }
    return true;
  }

  // Sound ahead of the pictures: packets are written in the order of their send time (sound
  // leadMs before its presentation time), not interleaved by the muxer. The muxer wants the times
  // within one data packet to rise; a packet that opens with a sound sample stored ahead must
  // therefore hold nothing else, so the packet size is that of one sound sample with its headers.
  bool SetUpLead() {
    int block = INT32_MAX;
    for (const AudioTrack& a : audio_) block = std::min(block, a.enc->block_align);
    const int packetSize = block + kSinglePayloadHeaders;
    if (block <= 0 || packetSize < 100 || packetSize > 65536)
      return Fail("an audio lead needs sound samples of 74 to 65510 bytes (" +
                  std::to_string(block) + " here)");
    int err = av_opt_set_int(out_->priv_data, "packet_size", packetSize, 0);
    if (err < 0) return Fail("cannot set the ASF packet size", err);
    pending_.resize(out_->nb_streams);
    drained_.assign(out_->nb_streams, false);
    return true;
  }

  // Finds the preroll field of the file properties object in the header of the clip being
  // written; reads it into *value, and writes newValue there when it is given.
  bool PrerollField(const std::string& file, const uint64_t* newValue, uint64_t* value) {
    // Object header (24), file id (16), file size, creation date, packet count, play and send
    // duration (8 each), then the preroll in ms (8).
    constexpr size_t kPrerollAt = 24 + 16 + 5 * 8;
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string head(64 * 1024, '\0');
    f.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(std::max<std::streamsize>(f.gcount(), 0)));
    f.clear();
    const size_t at = head.find(std::string(
        reinterpret_cast<const char*>(asf::kFileProperties.data()), asf::kFileProperties.size()));
    if (!f || at == std::string::npos || at + kPrerollAt + 8 > head.size())
      return Fail("cannot find the preroll in the header of " + shownName_);
    *value = asf::Get(reinterpret_cast<const uint8_t*>(head.data()) + at + kPrerollAt, 8);
    if (newValue == nullptr) return true;
    uint8_t bytes[8];
    asf::Set(bytes, *newValue, 8);
    f.seekp(static_cast<std::streamoff>(at + kPrerollAt));
    f.write(reinterpret_cast<const char*>(bytes), 8);
    f.flush();
    if (!f) return Fail("cannot write to " + shownName_);
    return true;
  }

  bool OpenVideo() {
    const AVCodec* codec = avcodec_find_encoder_by_name(spec_.videoCodec.c_str());
    if (!codec) return Fail("this FFmpeg has no " + spec_.videoCodec + " encoder");
    video_.reset(avcodec_alloc_context3(codec));
    if (!video_) return Fail("out of memory");
    AVRational rate{};
    av_reduce(&rate.num, &rate.den, spec_.fpsNum, spec_.fpsDen, INT32_MAX);
    videoTb_ = av_inv_q(rate);
    gop_ = static_cast<int>(std::max<int64_t>(
        1, av_rescale_rnd(spec_.keyIntervalMs, rate.num, 1000LL * rate.den, AV_ROUND_NEAR_INF)));
    frameCount_ = std::max<int64_t>(
        1, av_rescale_rnd(spec_.durationMs, rate.num, 1000LL * rate.den, AV_ROUND_UP));
    if (!spec_.keyFramesMs.empty()) {
      // Key frames only where asked: the encoder's own interval is set beyond the clip's end.
      keyFrames_.push_back(0);
      for (int t : spec_.keyFramesMs)
        keyFrames_.push_back(av_rescale_rnd(t, rate.num, 1000LL * rate.den, AV_ROUND_NEAR_INF));
      std::sort(keyFrames_.begin(), keyFrames_.end());
      keyFrames_.erase(std::unique(keyFrames_.begin(), keyFrames_.end()), keyFrames_.end());
      gop_ = static_cast<int>(std::min<int64_t>(frameCount_ + 1, INT32_MAX));
    }

    AVCodecContext* c = video_.get();
    c->width = spec_.width;
    c->height = spec_.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = videoTb_;
    c->framerate = rate;
    c->gop_size = gop_;
    c->max_b_frames = 0;
    c->bit_rate = spec_.videoBitRate;
    // A half-second buffer keeps the first pictures, coded before the rate control has settled,
    // from spending several seconds' worth of bits; at low frame rates it must still hold a few
    // pictures. The peak rate must differ from the mean, or the encoder takes it for a
    // constant-rate request it cannot honour.
    const int64_t bitsPerPicture = av_rescale(spec_.videoBitRate, rate.den, rate.num);
    c->rc_max_rate = spec_.videoBitRate + spec_.videoBitRate / 2LL;
    c->rc_buffer_size = static_cast<int>(std::min<int64_t>(
        std::max<int64_t>(spec_.videoBitRate / 2, 4 * bitsPerPicture), INT32_MAX));
    // The encoder raises a tolerance below five pictures' worth itself, with a warning.
    c->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(
        std::max<int64_t>(c->bit_rate_tolerance, 5 * bitsPerPicture + 1), INT32_MAX));
    c->qmin = 2;
    c->qmax = 31;
    // The encoder shortens intervals above 600 pictures unless told that this is intended.
    if (!keyFrames_.empty()) c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    c->thread_count = 1;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Noise changes completely from picture to picture; scene-change detection would turn such
    // pictures into extra key frames. Motion search only pays off where the noise is faint.
    const int noise = NoiseFor(rate);
    av_opt_set_int(c->priv_data, "sc_threshold", 1000000000, 0);
    av_opt_set(c->priv_data, "motion_est", noise < kFullNoise ? "epzs" : "zero", 0);
    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0) return Fail("cannot open the " + spec_.videoCodec + " encoder", err);

    videoStream_ = avformat_new_stream(out_.get(), nullptr);
    if (!videoStream_) return Fail("out of memory");
    videoStream_->time_base = videoTb_;
    videoStream_->avg_frame_rate = rate;
    err = avcodec_parameters_from_context(videoStream_->codecpar, c);
    if (err < 0) return Fail("cannot describe the video stream", err);

    for (FramePtr& f : videoFrames_) {
      f.reset(av_frame_alloc());
      if (!f) return Fail("out of memory");
    }
    picture_ = std::make_unique<PictureSource>(spec_.width, spec_.height, noise);
    return true;
  }

  bool OpenAudio(int trackIndex) {
    const AVCodec* codec = avcodec_find_encoder_by_name(spec_.audioCodec.c_str());
    if (!codec) return Fail("this FFmpeg has no " + spec_.audioCodec + " encoder");
    AudioTrack track;
    track.enc.reset(avcodec_alloc_context3(codec));
    if (!track.enc) return Fail("out of memory");
    track.frequency = 440 + 220 * trackIndex;

    AVCodecContext* c = track.enc.get();
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    if (c->sample_fmt != AV_SAMPLE_FMT_FLTP && c->sample_fmt != AV_SAMPLE_FMT_FLT)
      return Fail(spec_.audioCodec + " wants a sample format this generator does not produce");
    c->sample_rate = spec_.sampleRate;
    av_channel_layout_default(&c->ch_layout, spec_.channels);
    c->bit_rate = spec_.audioBitRate;
    c->time_base = AVRational{1, spec_.sampleRate};
    c->thread_count = 1;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0) {
      return Fail("cannot open the " + spec_.audioCodec + " encoder (" +
                      std::to_string(spec_.sampleRate) + " Hz, " + std::to_string(spec_.channels) +
                      " ch, " + std::to_string(spec_.audioBitRate) + " bps)",
                  err);
    }
    if (c->frame_size <= 0) return Fail(spec_.audioCodec + " reports no frame size");

    track.stream = avformat_new_stream(out_.get(), nullptr);
    if (!track.stream) return Fail("out of memory");
    track.stream->time_base = c->time_base;
    err = avcodec_parameters_from_context(track.stream->codecpar, c);
    if (err < 0) return Fail("cannot describe the audio stream", err);

    track.frame.reset(av_frame_alloc());
    if (!track.frame) return Fail("out of memory");
    track.frame->format = c->sample_fmt;
    track.frame->sample_rate = c->sample_rate;
    track.frame->nb_samples = c->frame_size;
    err = av_channel_layout_copy(&track.frame->ch_layout, &c->ch_layout);
    if (err < 0) return Fail("out of memory", err);
    err = av_frame_get_buffer(track.frame.get(), 0);
    if (err < 0) return Fail("cannot allocate audio frames", err);
    audio_.push_back(std::move(track));
    return true;
  }

  // Noise is what makes the encoder spend its bit rate, but noise it cannot afford even at the
  // coarsest quantiser overruns the rate badly. Its strength follows the bits per pixel.
  int NoiseFor(AVRational rate) const {
    const double pixelsPerSecond = static_cast<double>(spec_.width) * spec_.height * av_q2d(rate);
    const double bitsPerPixel = spec_.videoBitRate / pixelsPerSecond;
    int mask = kFullNoise;
    for (double floor = 0.16; mask > 0 && bitsPerPixel < floor; floor /= 2) mask /= 2;
    return mask;
  }

  bool EncodeAll() {
    audioSamples_ = av_rescale_rnd(spec_.durationMs, spec_.sampleRate, 1000, AV_ROUND_UP);
    // Feed whichever stream is furthest behind, so the muxer's interleaving queue stays short.
    for (;;) {
      bool videoDue = video_ && nextFrame_ < frameCount_;
      int dueTrack = -1;
      for (size_t t = 0; t < audio_.size(); ++t) {
        const AudioTrack& a = audio_[t];
        if (a.sentAll) continue;
        if (dueTrack < 0 || a.nextSample < audio_[dueTrack].nextSample)
          dueTrack = static_cast<int>(t);
      }
      if (!videoDue && dueTrack < 0) break;
      if (videoDue && dueTrack >= 0) {
        const AudioTrack& a = audio_[dueTrack];
        if (av_compare_ts(nextFrame_, videoTb_, a.nextSample, a.enc->time_base) > 0)
          videoDue = false;
        else
          dueTrack = -1;
      }
      if (videoDue ? !EncodeVideoFrame() : !EncodeAudioFrame(audio_[dueTrack])) return false;
    }
    if (video_) {
      int err = avcodec_send_frame(video_.get(), nullptr);
      if (err < 0) return Fail("cannot flush the video encoder", err);
      if (!DrainVideo()) return false;
      if (!drained_.empty()) drained_[videoStream_->index] = true;
    }
    for (AudioTrack& a : audio_) {
      int err = avcodec_send_frame(a.enc.get(), nullptr);
      if (err < 0) return Fail("cannot flush the audio encoder", err);
      if (!DrainAudio(a)) return false;
      if (!drained_.empty()) drained_[a.stream->index] = true;
    }
    return WritePending();
  }

  // Hands a finished packet to the muxer: interleaved by the muxer, or queued in send order.
  bool Emit(AVPacket* p) {
    if (spec_.audioLeadMs == 0) {
      int err = av_interleaved_write_frame(out_.get(), p);
      if (err < 0) return Fail("cannot write to " + shownName_, err);
      return true;
    }
    const AVRational tb = out_->streams[p->stream_index]->time_base;
    const int64_t shift = av_rescale_q(shiftMs_, AVRational{1, 1000}, tb);
    p->pts += shift;
    p->dts += shift;
    PacketPtr queued(av_packet_alloc());
    if (!queued) return Fail("out of memory");
    av_packet_move_ref(queued.get(), p);
    pending_[static_cast<size_t>(queued->stream_index)].push_back(std::move(queued));
    return WritePending();
  }

  // Send time of a packet in microseconds: sound goes out its lead before it is presented.
  int64_t SendTime(const AVPacket* p) const {
    const AVStream* st = out_->streams[p->stream_index];
    int64_t t = av_rescale_q(p->dts, st->time_base, AVRational{1, 1000000});
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) t -= spec_.audioLeadMs * 1000LL;
    return t;
  }

  // Writes queued packets in send order for as long as every stream that still makes packets
  // has one waiting, so that nothing sent earlier can still come.
  bool WritePending() {
    for (;;) {
      int next = -1;
      for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].empty()) {
          if (!drained_[i]) return true;
          continue;
        }
        if (next < 0 ||
            SendTime(pending_[i].front().get()) < SendTime(pending_[next].front().get()))
          next = static_cast<int>(i);
      }
      if (next < 0) return true;
      PacketPtr p = std::move(pending_[next].front());
      pending_[next].pop_front();
      int err = av_write_frame(out_.get(), p.get());
      if (err < 0) return Fail("cannot write to " + shownName_, err);
    }
  }

  // Gives f a picture buffer of its own; the encoder may still hold the one f had before.
  int NewPicture(AVFrame* f) {
    if (f->buf[0] && av_frame_is_writable(f)) return 0;
    av_frame_unref(f);
    f->format = video_->pix_fmt;
    f->width = video_->width;
    f->height = video_->height;
    return av_frame_get_buffer(f, 0);
  }

  std::future<void> StartDrawing(AVFrame* f, int64_t index) {
    auto draw = [source = picture_.get(), f, index] { source->Draw(f, index); };
    try {
      return std::async(std::launch::async, draw);
    } catch (const std::system_error&) {
      draw();
      return {};
    }
  }

  bool EncodeVideoFrame() {
    const int64_t index = nextFrame_;
    AVFrame* f = videoFrames_[index % 2].get();
    int err;
    if (index == 0) {
      if ((err = NewPicture(f)) < 0) return Fail("cannot allocate a picture", err);
      picture_->Draw(f, index);
    }
    // Drawing takes a good share of the time at large sizes, so the next picture is drawn on a
    // second core while this one is encoded.
    std::future<void> ahead;
    if (index + 1 < frameCount_) {
      AVFrame* next = videoFrames_[(index + 1) % 2].get();
      if ((err = NewPicture(next)) < 0) return Fail("cannot allocate a picture", err);
      ahead = StartDrawing(next, index + 1);
    }
    f->pts = index;
    const bool key = keyFrames_.empty()
                         ? index % gop_ == 0
                         : std::binary_search(keyFrames_.begin(), keyFrames_.end(), index);
    f->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    err = avcodec_send_frame(video_.get(), f);
    const bool ok = err < 0 ? Fail("video encoding failed", err) : DrainVideo();
    if (ahead.valid()) ahead.wait();
    ++nextFrame_;
    return ok;
  }

  bool DrainVideo() {
    for (;;) {
      int err = avcodec_receive_packet(video_.get(), packet_.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return true;
      if (err < 0) return Fail("video encoding failed", err);
      AVPacket* p = packet_.get();
      // One picture in, one packet out: the time stamps are the frame numbers themselves. The
      // duration is taken after rounding so that the packets tile the millisecond time line.
      const int64_t frame = p->pts;
      p->stream_index = videoStream_->index;
      const AVRational tb = videoStream_->time_base;
      p->pts = p->dts = av_rescale_q(frame, videoTb_, tb);
      p->duration = av_rescale_q(frame + 1, videoTb_, tb) - p->pts;
      if (!Emit(p)) return false;
    }
  }

  bool EncodeAudioFrame(AudioTrack& a) {
    AVCodecContext* c = a.enc.get();
    AVFrame* f = a.frame.get();
    int err = av_frame_make_writable(f);
    if (err < 0) return Fail("cannot allocate audio frames", err);
    const int count =
        static_cast<int>(std::min<int64_t>(c->frame_size, audioSamples_ - a.nextSample));
    f->nb_samples = count;
    f->pts = a.nextSample;
    const int channels = c->ch_layout.nb_channels;
    const bool planar = c->sample_fmt == AV_SAMPLE_FMT_FLTP;
    for (int i = 0; i < count; ++i) {
      // Phase from the exact sample number keeps long clips free of drift.
      const int64_t n = a.nextSample + i;
      const int64_t phase = (n * a.frequency) % spec_.sampleRate;
      const float v =
          static_cast<float>(kToneLevel * std::sin(2.0 * std::numbers::pi *
                                                   static_cast<double>(phase) / spec_.sampleRate));
      for (int ch = 0; ch < channels; ++ch) {
        if (planar)
          reinterpret_cast<float*>(f->extended_data[ch])[i] = v;
        else
          reinterpret_cast<float*>(f->data[0])[i * channels + ch] = v;
      }
    }
    a.nextSample += count;
    a.sentAll = a.nextSample >= audioSamples_;
    err = avcodec_send_frame(c, f);
    if (err < 0) return Fail("audio encoding failed", err);
    return DrainAudio(a);
  }

  bool DrainAudio(AudioTrack& a) {
    AVCodecContext* c = a.enc.get();
    for (;;) {
      int err = avcodec_receive_packet(c, packet_.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return true;
      if (err < 0) return Fail("audio encoding failed", err);
      AVPacket* p = packet_.get();
      // The WMA encoders report their priming (initial_padding) as a negative start, which the
      // muxer would answer by shifting every stream. Each packet stands for one input frame, so
      // the audio track is laid out from 0 without that offset.
      int64_t start = p->pts + c->initial_padding;
      int64_t end = std::min<int64_t>(start + c->frame_size, audioSamples_);
      p->pts = p->dts = start;
      p->duration = std::max<int64_t>(end - start, 0);
      p->stream_index = a.stream->index;
      av_packet_rescale_ts(p, c->time_base, a.stream->time_base);
      if (!Emit(p)) return false;
    }
  }

  bool Finish() {
    int err = av_write_trailer(out_.get());
    if (err < 0) return Fail("cannot finish " + shownName_, err);
    err = avio_closep(&out_->pb);
    if (err < 0) return Fail("cannot write to " + shownName_, err);
    if (shiftMs_ > 0) {
      const uint64_t preroll = static_cast<uint64_t>(prerollMs_);
      uint64_t old = 0;
      if (!PrerollField(file_, &preroll, &old)) return false;
    }
    if (spec_.encoderHeader && !DeclareAsEncoder()) return false;
    if ((spec_.noIndex || spec_.broadcast) && !DropIndex(file_))
      return Fail("cannot take the index out of " + shownName_);
    if (spec_.broadcast && !MakeBroadcastHeader(file_))
      return Fail("cannot write a broadcast header into " + shownName_);
    return true;
  }

  // What an encoder declares of stream n (numbered from 1 in the muxer's order) in the header
  // extension: its extended stream properties, with one stream name in language 0.
  std::vector<uint8_t> ExtendedStreamProperties(int n) const {
    const bool isVideo = out_->streams[n - 1]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    const uint32_t rate = static_cast<uint32_t>(isVideo ? spec_.videoBitRate : spec_.audioBitRate);
    const std::vector<uint8_t> name =
        asf::Utf16(isVideo ? "Video" : "Audio " + std::to_string(n - (spec_.video ? 1 : 0)));
    std::vector<uint8_t> o;
    asf::PutGuid(o, asf::kExtendedStreamProperties);
    asf::Put(o, asf::kExtStreamFixed + 4 + name.size(), 8);
    asf::Put(o, 0, 8);  // start time
    asf::Put(o, 0, 8);  // end time
    asf::Put(o, rate, 4);
    asf::Put(o, static_cast<uint64_t>(spec_.bufferMs), 4);
    asf::Put(o, 0, 4);                                      // initial buffer fullness
    asf::Put(o, rate / 2 * 3, 4);                           // peak rate
    asf::Put(o, static_cast<uint64_t>(spec_.bufferMs), 4);  // peak buffer
    asf::Put(o, 0, 4);                                      // peak initial buffer fullness
    asf::Put(o, 0, 4);                                      // largest sample: not given
    asf::Put(o, asf::kExtFlagSeekable, 4);
    asf::Put(o, static_cast<uint64_t>(n), 2);
    asf::Put(o, 0, 2);  // language index
    const int64_t perFrame =
        isVideo ? av_rescale(10000000, spec_.fpsDen, spec_.fpsNum) : 0;  // 100 ns per picture
    asf::Put(o, static_cast<uint64_t>(perFrame), 8);
    asf::Put(o, 1, 2);  // stream names
    asf::Put(o, 0, 2);  // payload extension systems
    asf::Put(o, 0, 2);  // the name's language index
    asf::Put(o, name.size(), 2);
    o.insert(o.end(), name.begin(), name.end());
    return o;
  }

  // Adds to the finished clip's header what Windows Media encoders write beyond what the muxer
  // writes: the stream bit rate properties, the language list and each stream's extended stream
  // properties in the header extension, and the content description. The data that follows the
  // header moves on by as much; nothing in it gives a file position.
  bool DeclareAsEncoder() {
    std::ifstream in(file_, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    in.close();
    const uint64_t headerSize = bytes.size() >= 24 ? asf::Get(bytes.data() + 16, 8) : 0;
    std::vector<uint8_t> header;
    if (headerSize >= asf::kHeaderHead && headerSize < bytes.size())
      header.assign(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(headerSize));
    const auto layout = asf::ReadLayout(header);
    if (!layout || layout->extension.size == 0)
      return Fail("cannot read the header of " + shownName_);

    std::vector<uint8_t> inner;
    asf::PutGuid(inner, asf::kLanguageList);
    const std::vector<uint8_t> language = asf::Utf16(spec_.language);
    asf::Put(inner, asf::kObjectHead + 2 + 1 + language.size(), 8);
    asf::Put(inner, 1, 2);
    asf::Put(inner, language.size(), 1);
    inner.insert(inner.end(), language.begin(), language.end());
    const int streams = static_cast<int>(out_->nb_streams);
    for (int n = 1; n <= streams; ++n) {
      const std::vector<uint8_t> o = ExtendedStreamProperties(n);
      inner.insert(inner.end(), o.begin(), o.end());
    }

    std::vector<uint8_t> bitrates;
    asf::PutGuid(bitrates, asf::kStreamBitrateProperties);
    asf::Put(bitrates, asf::kObjectHead + 2 + 6 * static_cast<uint64_t>(streams), 8);
    asf::Put(bitrates, static_cast<uint64_t>(streams), 2);
    for (int n = 1; n <= streams; ++n) {
      const bool isVideo = out_->streams[n - 1]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
      asf::Put(bitrates, static_cast<uint64_t>(n), 2);
      asf::Put(bitrates, static_cast<uint64_t>(isVideo ? spec_.videoBitRate : spec_.audioBitRate),
               4);
    }

    std::vector<uint8_t> content;
    const std::vector<uint8_t> texts[] = {asf::Utf16(spec_.title), asf::Utf16(spec_.author),
                                          asf::Utf16(spec_.copyright),
                                          asf::Utf16(spec_.description), asf::Utf16("")};
    size_t textBytes = 0;
    for (const auto& t : texts) textBytes += t.size();
    asf::PutGuid(content, asf::kContentDescription);
    asf::Put(content, asf::kObjectHead + 10 + textBytes, 8);
    for (const auto& t : texts) asf::Put(content, t.size(), 2);
    for (const auto& t : texts) content.insert(content.end(), t.begin(), t.end());

    const size_t growth = inner.size() + bitrates.size() + content.size();
    std::vector<uint8_t> out(header.begin(), header.begin() + asf::kHeaderHead);
    for (const asf::Object& o : layout->objects) {
      const size_t start = out.size();
      out.insert(out.end(), header.begin() + static_cast<ptrdiff_t>(o.at),
                 header.begin() + static_cast<ptrdiff_t>(o.at + o.size));
      if (o.at == layout->extension.at) {
        out.insert(out.end(), inner.begin(), inner.end());
        asf::Set(out.data() + start + 16, o.size + inner.size(), 8);
        asf::Set(out.data() + start + asf::kExtensionSizeAt,
                 o.size + inner.size() - asf::kExtensionHead, 4);
      } else if (asf::Is(out.data() + start, asf::kFileProperties)) {
        if (o.size < asf::kFilePropertiesSize)
          return Fail("cannot read the header of " + shownName_);
        asf::Set(out.data() + start + asf::kFileSizeAt, bytes.size() + growth, 8);
        out.insert(out.end(), bitrates.begin(), bitrates.end());
      }
    }
    out.insert(out.end(), content.begin(), content.end());
    asf::Set(out.data() + 16, out.size(), 8);
    asf::Set(out.data() + asf::kHeaderCountAt, asf::Get(out.data() + asf::kHeaderCountAt, 4) + 2,
             4);
    if (out.size() != header.size() + growth)
      return Fail("cannot extend the header of " + shownName_);
    out.insert(out.end(), bytes.begin() + static_cast<ptrdiff_t>(headerSize), bytes.end());
    std::ofstream rewrite(file_, std::ios::binary | std::ios::trunc);
    rewrite.write(reinterpret_cast<const char*>(out.data()),
                  static_cast<std::streamsize>(out.size()));
    rewrite.close();
    if (!rewrite) return Fail("cannot write to " + shownName_);
    return true;
  }

  static constexpr double kToneLevel = 0.25;
  // Packet header and payload header of an ASF data packet with a single payload, as the muxer
  // writes them.
  static constexpr int kSinglePayloadHeaders = 26;
  static constexpr int kFullNoise = 31;

  const ClipSpec& spec_;
  std::string& error_;
  std::string shownName_;
  std::string file_;
  OutputPtr out_;
  PacketPtr packet_;

  CodecContextPtr video_;
  AVStream* videoStream_ = nullptr;
  FramePtr videoFrames_[2];
  std::unique_ptr<PictureSource> picture_;
  AVRational videoTb_{1, 25};
  int gop_ = 1;
  std::vector<int64_t> keyFrames_;  // pictures to code as key frames, when the clip lists them
  int64_t frameCount_ = 0;
  int64_t nextFrame_ = 0;

  std::vector<AudioTrack> audio_;
  int64_t audioSamples_ = 0;

  // Sound lead: packets waiting for their send time, per stream; streams whose encoder is done.
  std::vector<std::deque<PacketPtr>> pending_;
  std::vector<bool> drained_;
  int64_t prerollMs_ = 0;
  int64_t shiftMs_ = 0;  // added to every time, for a preroll longer than the muxer's
};

}  // namespace

bool Generate(const ClipSpec& params, const std::string& path, std::string* error) {
  std::string message;
  auto fail = [&]() {
    if (error) *error = message;
    return false;
  };
  if (path.empty()) {
    message = "no output file name";
    return fail();
  }
  if (!CheckSpec(params, &message)) return fail();

  // Written under a neighbouring name and moved into place once complete, so a failure never
  // leaves a truncated clip (or clobbers an older one) at the requested path.
  const std::string temp = path + ".part";
  bool ok;
  {
    ClipWriter writer(params, &message);
    ok = writer.Write(temp, path);
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    message = "cannot move the finished clip to " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    std::remove(temp.c_str());
    return fail();
  }
  return true;
}

int ReadFrameCode(const unsigned char* bgra, int width, int height, int stride) {
  if (!bgra || width <= 0 || height <= 0 || stride < width * 4) return -1;
  const CodeLayout l = LayoutFor(width, height);
  if (!l.fits) return -1;

  // Mean luminance over the middle half of a cell, well away from edges that coding smears.
  auto cellLuma = [&](int bit, int row) {
    const int x0 = bit * l.cellW + l.cellW / 4;
    const int x1 = (bit + 1) * l.cellW - l.cellW / 4;
    const int y0 = row * l.cellH + l.cellH / 4;
    const int y1 = (row + 1) * l.cellH - l.cellH / 4;
    int64_t sum = 0;
    for (int y = y0; y < y1; ++y) {
      const unsigned char* p = bgra + static_cast<ptrdiff_t>(y) * stride + x0 * 4;
      for (int x = x0; x < x1; ++x, p += 4) sum += 29 * p[0] + 150 * p[1] + 77 * p[2];
    }
    return static_cast<int>(sum / (256LL * (x1 - x0) * (y1 - y0)));
  };
  // Decoded dark cells land near 51 and light ones near 191 (full-range RGB).
  constexpr int kDark = 100;
  constexpr int kLight = 142;

  int code = 0;
  for (int b = 0; b < kCodeBits; ++b) {
    const int top = cellLuma(b, 0);
    const int bottom = cellLuma(b, 1);
    int bit;
    if (top >= kLight && bottom <= kDark)
      bit = 1;
    else if (top <= kDark && bottom >= kLight)
      bit = 0;
    else
      return -1;
    code = (code << 1) | bit;
  }
  return code;
}

}  // namespace clipgen
