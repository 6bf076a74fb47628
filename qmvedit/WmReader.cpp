#include "WmReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "AsfObjects.h"
#include "HeaderCarry.h"
#include "HeaderSanity.h"

namespace wm {

namespace {

// How far ahead of its presentation time a stream may be stored: ASF clips send each stream
// ahead by its buffer window, which the header's preroll bounds (typically 3 s). At least this,
// and the preroll with a margin where it is longer.
constexpr int64_t kMinMaxLead = 10 * 10000000LL;
constexpr int64_t kPrerollMargin = 10000000;  // 1 s
// A time further than this past the clip's declared end is a damaged one.
constexpr int64_t kDamagedSlack = 5 * 10000000LL;
// Margin added to the distance the start of a range is moved back for a stream stored ahead.
constexpr int64_t kLeadMargin = 2500000;  // 0.25 s
// Times in the file are whole milliseconds.
constexpr int64_t kTimeStep = 10000;
constexpr int kLeadProbes = 8;
// First step back for a stream that has nothing left after the key frame's packet.
constexpr int64_t kLeadGuess = 10000000;  // 1 s
// A stream never jumps further ahead than this from one sample to the next.
constexpr int64_t kMaxJump = 60 * 10000000LL;
// How much of the start of a clip is read to measure its average frame time.
constexpr int kFrameTimeFrames = 64;
constexpr int64_t kFrameTimeSpanMs = 3000;
constexpr int kFrameTimePackets = 1024;

std::string SubtypeOf(const AVCodecParameters* par) {
  switch (par->codec_id) {
    case AV_CODEC_ID_WMV1:
      return "WMV1";
    case AV_CODEC_ID_WMV2:
      return "WMV2";
    case AV_CODEC_ID_WMV3:
      return "WMV3";
    case AV_CODEC_ID_VC1:
      return "WVC1";
    case AV_CODEC_ID_WMAV1:
      return "WMA1";
    case AV_CODEC_ID_WMAV2:
      return "WMA2";
    case AV_CODEC_ID_WMAPRO:
      return "WMA3";
    case AV_CODEC_ID_WMAVOICE:
      return "WMSP";
    default:
      return avcodec_get_name(par->codec_id);
  }
}

Kind KindOf(const AVCodecParameters* par) {
  switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      return Kind::Audio;
    case AVMEDIA_TYPE_VIDEO:
      return Kind::Video;
    default:
      return Kind::Other;
  }
}

// Packet time in 100-ns units, or INT64_MIN when the packet carries none.
int64_t PacketTime(const AVPacket* pkt, const AVStream* st) {
  int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (ts == AV_NOPTS_VALUE) return INT64_MIN;
  return av_rescale_q(ts, st->time_base, AVRational{1, 10000000});
}

// Preroll of the clip's header in 100-ns units, or 0 when it cannot be read. The demuxer takes it
// off every time without passing it on; it is the 64-bit millisecond count that follows the file
// id, file size, creation date, packet count and play and send durations in the file properties
// object.
int64_t HeaderPreroll(const char* path) {
  constexpr size_t kPrerollAt = 24 + 16 + 5 * 8;
  std::ifstream in(path, std::ios::binary);
  std::string head(64 * 1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  const size_t at = head.find(std::string(
      reinterpret_cast<const char*>(asf::kFileProperties.data()), asf::kFileProperties.size()));
  if (at == std::string::npos || at + kPrerollAt + 8 > head.size()) return 0;
  const uint64_t ms = asf::Get(reinterpret_cast<const uint8_t*>(head.data()) + at + kPrerollAt, 8);
  return ms > 3600 * 1000 ? 0 : static_cast<int64_t>(ms) * 10000;  // an hour is no preroll
}

// The header object at the start of the file, when it is one of a plausible size.
std::vector<uint8_t> ReadHeaderObject(const char* path) {
  constexpr uint64_t kMaxHeader = 16 << 20;
  std::ifstream in(path, std::ios::binary);
  uint8_t head[24];
  in.read(reinterpret_cast<char*>(head), sizeof(head));
  if (!in) return {};
  const uint64_t size = asf::Get(head + 16, 8);
  if (size < 30 || size > kMaxHeader) return {};
  std::vector<uint8_t> header(static_cast<size_t>(size));
  std::copy(head, head + sizeof(head), header.begin());
  in.read(reinterpret_cast<char*>(header.data() + sizeof(head)),
          static_cast<std::streamsize>(size - sizeof(head)));
  if (!in) return {};
  return header;
}

}  // namespace

// Per-stream reading state.
struct Reader::StreamState {
  bool selected = true;
  bool compressed = false;
  bool ended = false;  // the stream has passed the end of the range
  AVCodecContext* decoder = nullptr;
  // What the decoder holds: fed from the key frame at decodedKey on, fedCount samples,
  // pictures given out up to decodedUpTo. A later position of the same run goes on from there.
  bool warm = false;
  int64_t decodedKey = INT64_MIN;
  int fedCount = 0;  // samples fed since that key frame, in file order
  int64_t decodedUpTo = INT64_MIN;
  // Per range.
  bool needKey = false;          // a picture stream waits for its first key frame
  int skip = 0;                  // samples the decoder already holds
  int64_t lastTime = INT64_MIN;  // time of the stream's previous sample
  SwsContext* scaler = nullptr;
  int scalerW = 0, scalerH = 0, scalerFmt = -1;
  std::vector<uint8_t> scaled;  // the scaler's output rows
  ~StreamState() {
    avcodec_free_context(&decoder);
    sws_freeContext(scaler);
  }
};

Sample::Sample() : packet_(av_packet_alloc()) {}
Sample::~Sample() {
  av_packet_free(&packet_);
}

const uint8_t* Sample::Data() const {
  return decoded_ ? pixels_.data() : packet_->data;
}
size_t Sample::Size() const {
  return decoded_ ? pixels_.size() : static_cast<size_t>(std::max(packet_->size, 0));
}

Reader::Reader() : pkt_(av_packet_alloc()) {}

Reader::~Reader() {
  Close();
  av_packet_free(&pkt_);
}

HRESULT Reader::Open(const char* path) {
  Close();
  if (path == nullptr || pkt_ == nullptr) return NS_E_FILE_OPEN_FAILED;
  // Clips are ASF whatever their name says; anything else is refused, not guessed.
  const AVInputFormat* asf = av_find_input_format("asf");
  if (avformat_open_input(&ctx_, path, asf, nullptr) < 0) {
    ctx_ = nullptr;
    return NS_E_FILE_OPEN_FAILED;
  }
  for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
    AVStream* st = ctx_->streams[i];
    if (KindOf(st->codecpar) == Kind::Video) {
      // A picture size no codec takes is a damaged header, not a clip; top-down rows are
      // stored with the height's magnitude, as decoders and writers expect it.
      if (!PlausiblePicture(st->codecpar->width, st->codecpar->height)) {
        Close();
        return NS_E_FILE_OPEN_FAILED;
      }
      st->codecpar->height = std::abs(st->codecpar->height);
    }
    StreamInfo info;
    info.number = static_cast<uint16_t>(i + 1);
    info.fileNumber = static_cast<uint16_t>(st->id);
    info.kind = KindOf(st->codecpar);
    info.subtype = SubtypeOf(st->codecpar);
    info.bitRate =
        static_cast<uint32_t>(std::clamp<int64_t>(st->codecpar->bit_rate, 0, UINT32_MAX));
    info.width = st->codecpar->width;
    info.height = st->codecpar->height;
    info.sampleRate = st->codecpar->sample_rate;
    info.channels = st->codecpar->ch_layout.nb_channels;
    info.codec = st->codecpar;
    streams_.push_back(info);
    state_.push_back(std::make_unique<StreamState>());
  }
  int64_t declared = 0;
  declaredEnd_ = GetDuration(&declared) == S_OK ? declared : INT64_MAX;
  header_ = ReadHeaderObject(path);
  MeasureFrameTimes();
  ResetDecoders();
  if (SeekTo(-1, 0) == S_OK) dataStart_ = avio_tell(ctx_->pb);
  const int64_t fileSize = avio_size(ctx_->pb);
  uint32_t bitRate = 0;
  if (dataStart_ >= 0 && fileSize > dataStart_ && declaredEnd_ != INT64_MAX && declaredEnd_ > 0)
    bytesPerCns_ = static_cast<double>(fileSize - dataStart_) / static_cast<double>(declaredEnd_);
  else if (GetBitrate(&bitRate) == S_OK)
    bytesPerCns_ = bitRate / 8.0 / 1e7;
  maxLead_ = std::max(kMinMaxLead, HeaderPreroll(path) + kPrerollMargin);
  return S_OK;
}

HRESULT Reader::Close() {
  if (ctx_ == nullptr) return S_OK;
  avformat_close_input(&ctx_);
  streams_.clear();
  header_.clear();
  state_.clear();
  ranged_ = false;
  exhausted_ = false;
  anchor_ = -1;
  dataStart_ = -1;
  bytesPerCns_ = 0;
  return S_OK;
}

const StreamInfo* Reader::FindStream(uint16_t number) const {
  int i = IndexOf(number);
  return i < 0 ? nullptr : &streams_[static_cast<size_t>(i)];
}

int Reader::IndexOf(uint16_t number) const {
  if (number == 0 || number > streams_.size()) return -1;
  return number - 1;
}

HRESULT Reader::GetOutputCount(uint32_t* count) const {
  if (count == nullptr) return E_INVALIDARG;
  *count = static_cast<uint32_t>(streams_.size());  // none while no clip is open
  return S_OK;
}

HRESULT Reader::GetDuration(int64_t* duration) const {
  if (duration == nullptr) return E_INVALIDARG;
  if (!IsOpen()) return E_UNEXPECTED;
  // The demuxer gives each stream the play time of the file header (less the preroll), and
  // only when the header's file size matches the file: a truncated clip declares nothing.
  int64_t best = -1;
  for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
    const AVStream* st = ctx_->streams[i];
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0) continue;
    best = std::max(best, av_rescale_q(st->duration, st->time_base, AVRational{1, 10000000}));
  }
  if (best < 0 && ctx_->duration != AV_NOPTS_VALUE && ctx_->duration > 0)
    best = ctx_->duration > INT64_MAX / 10 ? INT64_MAX : ctx_->duration * 10;
  if (best < 0) return ASF_E_NOTFOUND;
  // A length far beyond what the file's bytes hold at its bit rate is a damaged header.
  uint32_t bitRate = 0;
  if (best > MaxPlausibleLength(avio_size(ctx_->pb), GetBitrate(&bitRate) == S_OK ? bitRate : 0))
    return ASF_E_NOTFOUND;
  *duration = best;
  return S_OK;
}

HRESULT Reader::GetBitrate(uint32_t* bitRate) const {
  if (bitRate == nullptr) return E_INVALIDARG;
  if (!IsOpen()) return E_UNEXPECTED;
  int64_t total = ctx_->bit_rate;
  if (total <= 0) {
    total = 0;
    for (const StreamInfo& s : streams_) total += s.bitRate;
  }
  if (total <= 0) return ASF_E_NOTFOUND;
  *bitRate = static_cast<uint32_t>(std::min<int64_t>(total, UINT32_MAX));
  return S_OK;
}

HRESULT Reader::MeasureEnd(int64_t* end) {
  if (end == nullptr) return E_INVALIDARG;
  if (!IsOpen()) return E_UNEXPECTED;
  if (!DeclaresNoLength(header_)) return ASF_E_NOTFOUND;
  ranged_ = false;
  ResetDecoders();
  const int64_t packet = ctx_->packet_size;
  const int64_t fileSize = avio_size(ctx_->pb);
  // The data object's end when its size is given, else the file's end.
  int64_t dataEnd = fileSize;
  if (header_.size() >= 30 && dataStart_ > 0 && fileSize > 0) {
    const int64_t headerSize = static_cast<int64_t>(header_.size());
    uint8_t head[24];
    if (avio_seek(ctx_->pb, headerSize, SEEK_SET) == headerSize &&
        avio_read(ctx_->pb, head, sizeof(head)) == static_cast<int>(sizeof(head))) {
      const uint64_t size = asf::Get(head + 16, 8);
      if (size > 50 && size <= static_cast<uint64_t>(fileSize - headerSize))
        dataEnd = headerSize + static_cast<int64_t>(size);
    }
  }
  for (size_t i = 0; i < state_.size(); ++i) ctx_->streams[i]->discard = AVDISCARD_DEFAULT;
  int64_t last = INT64_MIN;
  // Back from the end by a few packets, then by ever more, until a sample turns up.
  for (int64_t back = 64 * std::max<int64_t>(packet, 1);; back *= 8) {
    int64_t pos = dataStart_;
    if (packet > 0 && dataStart_ >= 0 && dataEnd - back > dataStart_)
      pos = dataStart_ + (dataEnd - back - dataStart_) / packet * packet;
    if (FAILED(pos > dataStart_ ? SeekToPosition(pos) : SeekTo(-1, 0))) break;
    for (;;) {
      const HRESULT hr = ReadPacket(pkt_);
      if (hr != S_OK) break;
      const int index = pkt_->stream_index;
      if (index < 0 || static_cast<size_t>(index) >= streams_.size()) continue;
      const int64_t t = PacketTime(pkt_, ctx_->streams[index]);
      if (t == INT64_MIN || t < 0 || t > kMaxJump * 100000) continue;
      last = std::max(last, SaturatingAdd(t, SampleDuration(index, pkt_)));
    }
    if (last != INT64_MIN || pos <= dataStart_ || dataStart_ < 0) break;
  }
  av_packet_unref(pkt_);
  ApplyDiscard();
  SeekTo(-1, 0);
  if (last == INT64_MIN || last <= 0) return ASF_E_NOTFOUND;
  *end = last;
  return S_OK;
}

HRESULT Reader::SetReadStreamSamples(uint16_t number, bool compressed) {
  int i = IndexOf(number);
  if (!IsOpen() || i < 0) return NS_E_INVALID_STREAM;
  state_[static_cast<size_t>(i)]->compressed = compressed;
  return S_OK;
}

HRESULT Reader::SetStreamSelected(uint16_t number, bool selected) {
  int i = IndexOf(number);
  if (!IsOpen() || i < 0) return NS_E_INVALID_STREAM;
  state_[static_cast<size_t>(i)]->selected = selected;
  return S_OK;
}

HRESULT Reader::GetVideoOutputHeader(uint16_t number, BitmapHeader* header) const {
  const StreamInfo* s = FindStream(number);
  if (header == nullptr) return E_INVALIDARG;
  if (s == nullptr || s->kind != Kind::Video || s->width <= 0 || s->height <= 0) return E_FAIL;
  *header = BitmapHeader{};
  header->biWidth = s->width;
  header->biHeight = s->height;  // positive: bottom-up rows
  header->biSizeImage = static_cast<uint32_t>(s->width) * static_cast<uint32_t>(s->height) * 4u;
  return S_OK;
}

void Reader::ApplyDiscard() {
  for (size_t i = 0; i < state_.size(); ++i)
    ctx_->streams[i]->discard = state_[i]->selected ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

HRESULT Reader::ReadPacket(AVPacket* pkt) {
  av_packet_unref(pkt);
  int r = av_read_frame(ctx_, pkt);
  // The byte layer ends a file that cannot be read as if it ended there: a read error inside
  // the file is an error, not the end of the clip.
  if (ctx_->pb != nullptr && ctx_->pb->error < 0 && ctx_->pb->error != AVERROR_EOF) {
    av_packet_unref(pkt);
    return E_FAIL;
  }
  if (r == AVERROR_EOF) return NS_E_NO_MORE_SAMPLES;
  if (r < 0) return E_FAIL;
  // The demuxer hands out what it has of a sample that runs into the end of a cut file; such a
  // sample is incomplete and would not decode.
  if (avio_feof(ctx_->pb)) {
    av_packet_unref(pkt);
    return NS_E_NO_MORE_SAMPLES;
  }
  return S_OK;
}

// Average frame time of a run of picture times: the mean of the steps near their median, so
// that a damaged time or a gap does not count.
static int64_t AverageFrameTime(const std::vector<int64_t>& times) {
  std::vector<int64_t> steps;
  for (size_t k = 1; k < times.size(); ++k)
    if (times[k] > times[k - 1] && SaturatingSub(times[k], times[k - 1]) <= kMaxJump)
      steps.push_back(times[k] - times[k - 1]);  // a longer step is a damaged time, not a frame
  if (steps.empty()) return 0;
  std::vector<int64_t> sorted = steps;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const int64_t median = sorted[sorted.size() / 2];
  int64_t sum = 0, n = 0;
  for (int64_t step : steps) {
    if (step * 2 < median || step > median * 2) continue;
    sum += step;
    ++n;
  }
  return n == 0 ? median : (sum + n / 2) / n;
}

void Reader::MeasureFrameTimes() {
  // The frame rate the header's extended stream properties declare, as encoders write it; other
  // clips keep none, so it is measured from the first frames' times.
  bool anyVideo = false;
  for (size_t i = 0; i < streams_.size(); ++i) {
    if (streams_[i].kind == Kind::Video)
      streams_[i].avgTimePerFrame = DeclaredFrameTime(header_, streams_[i].fileNumber);
    bool video = streams_[i].kind == Kind::Video && streams_[i].avgTimePerFrame == 0;
    anyVideo |= video;
    ctx_->streams[i]->discard = video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  if (!anyVideo) return;
  std::vector<std::vector<int64_t>> times(streams_.size());
  auto enough = [&](size_t k) {
    return times[k].size() >= static_cast<size_t>(kFrameTimeFrames) ||
           (!times[k].empty() && times[k].back() - times[k].front() >= kFrameTimeSpanMs * 10000);
  };
  for (int n = 0; n < kFrameTimePackets; ++n) {
    if (ReadPacket(pkt_) != S_OK) break;
    size_t i = static_cast<size_t>(pkt_->stream_index);
    if (i >= streams_.size()) continue;
    int64_t t = PacketTime(pkt_, ctx_->streams[i]);
    if (t == INT64_MIN) continue;
    times[i].push_back(t);
    bool done = true;
    for (size_t k = 0; k < streams_.size(); ++k)
      if (ctx_->streams[k]->discard != AVDISCARD_ALL && !enough(k)) done = false;
    if (done) break;
  }
  av_packet_unref(pkt_);
  for (size_t i = 0; i < streams_.size(); ++i) {
    if (streams_[i].kind != Kind::Video || streams_[i].avgTimePerFrame != 0) continue;
    streams_[i].avgTimePerFrame = AverageFrameTime(times[i]);
    if (streams_[i].avgTimePerFrame == 0) {
      AVRational r = ctx_->streams[i]->avg_frame_rate;
      if (r.num > 0 && r.den > 0) streams_[i].avgTimePerFrame = av_rescale(10000000, r.den, r.num);
    }
  }
  SeekTo(-1, 0);
}

int64_t Reader::SampleDuration(int index, const AVPacket* pkt) const {
  const AVStream* st = ctx_->streams[index];
  // A damaged duration counts as no longer than the longest step a stream takes.
  if (pkt->duration > 0)
    return std::clamp<int64_t>(av_rescale_q(pkt->duration, st->time_base, AVRational{1, 10000000}),
                               0, kMaxJump);
  const StreamInfo& s = streams_[static_cast<size_t>(index)];
  if (s.kind == Kind::Video) return s.avgTimePerFrame;
  if (s.kind == Kind::Audio && s.sampleRate > 0) {
    int n = av_get_audio_frame_duration2(st->codecpar, pkt->size);
    if (n > 0) return av_rescale(n, 10000000, s.sampleRate);
  }
  return 0;
}

int Reader::AnchorIndex() const {
  int firstSelected = -1;
  for (size_t i = 0; i < streams_.size(); ++i) {
    if (!state_[i]->selected) continue;
    if (streams_[i].kind == Kind::Video) return static_cast<int>(i);
    if (firstSelected < 0) firstSelected = static_cast<int>(i);
  }
  return firstSelected;
}

void Reader::ResetDecoders() {
  for (auto& s : state_) {
    if (s->decoder) avcodec_flush_buffers(s->decoder);
    s->warm = false;
    s->decodedUpTo = s->decodedKey = INT64_MIN;
    s->fedCount = 0;
  }
}

HRESULT Reader::SeekTo(int anchor, int64_t time) {
  if (time > 0 && anchor >= 0) {
    const AVStream* st = ctx_->streams[anchor];
    int64_t ts = av_rescale_q(time, AVRational{1, 10000000}, st->time_base);
    if (av_seek_frame(ctx_, anchor, ts, AVSEEK_FLAG_BACKWARD) >= 0) return S_OK;
  }
  // The start of the data; the demuxer treats time 0 specially and needs no index for it.
  int idx = anchor >= 0 ? anchor : (ctx_->nb_streams > 0 ? 0 : -1);
  if (idx < 0) return E_FAIL;
  if (av_seek_frame(ctx_, idx, 0, AVSEEK_FLAG_BACKWARD) >= 0) return S_OK;
  return E_FAIL;
}

// Reads from seekTime to find the latest key frame of the anchor at or before start. The index
// of ASF clips has one entry per second and may land one key frame early; the scan walks on.
// *found is false when the anchor has no key frame at or before start from that point.
HRESULT Reader::FindRangeKey(int anchor, int64_t start, int64_t seekTime, int64_t* key,
                             int64_t* keyPos, bool* found, bool* pastEnd) {
  *found = false;
  *pastEnd = false;
  bool passed = false;
  int64_t lastEnd = INT64_MIN;
  HRESULT hr = SeekTo(anchor, seekTime);
  if (FAILED(hr)) return hr;
  const bool video = streams_[static_cast<size_t>(anchor)].kind == Kind::Video;
  for (size_t i = 0; i < streams_.size(); ++i)
    ctx_->streams[i]->discard = static_cast<int>(i) == anchor ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  while (ReadPacket(pkt_) == S_OK) {
    if (pkt_->stream_index != anchor) continue;
    int64_t t = PacketTime(pkt_, ctx_->streams[anchor]);
    if (t == INT64_MIN) continue;
    if (t > start) {
      passed = true;
      break;
    }
    lastEnd = SaturatingAdd(t, SampleDuration(anchor, pkt_));
    if (!video || (pkt_->flags & AV_PKT_FLAG_KEY)) {
      *key = t;
      *keyPos = pkt_->pos;
      *found = true;
    }
  }
  av_packet_unref(pkt_);
  *pastEnd = *found && !passed && start >= lastEnd;
  return S_OK;
}

// Time of the first sample the range will deliver when it opens the clip: the earliest first
// sample among the selected streams, the anchor counting from its first key frame.
int64_t Reader::FirstSampleTime(int anchor) {
  const bool video = streams_[static_cast<size_t>(anchor)].kind == Kind::Video;
  std::vector<bool> seen(streams_.size(), false);
  size_t pending = 0;
  for (auto& s : state_) pending += s->selected ? 1 : 0;
  int64_t first = INT64_MAX;
  for (int n = 0; pending > 0 && n < kFrameTimePackets && ReadPacket(pkt_) == S_OK; ++n) {
    size_t i = static_cast<size_t>(pkt_->stream_index);
    if (i >= streams_.size() || seen[i] || !state_[i]->selected) continue;
    if (static_cast<int>(i) == anchor && video && !(pkt_->flags & AV_PKT_FLAG_KEY)) continue;
    int64_t t = PacketTime(pkt_, ctx_->streams[i]);
    if (t == INT64_MIN) continue;
    seen[i] = true;
    --pending;
    first = std::min(first, t);
  }
  av_packet_unref(pkt_);
  return first == INT64_MAX ? 0 : first;
}

HRESULT Reader::LocateRange(int anchor, int64_t start, RangeStart* where) {
  *where = RangeStart{};
  where->seekTime = start;
  if (start <= 0) return S_OK;
  HRESULT hr = FindRangeKey(anchor, start, start, &where->key, &where->keyPos, &where->found,
                            &where->pastEnd);
  if (FAILED(hr) || where->found) return hr;
  // The seek landed past the key frame, or the range begins before the first one: look again
  // from the beginning.
  where->seekTime = 0;
  return FindRangeKey(anchor, start, 0, &where->key, &where->keyPos, &where->found,
                      &where->pastEnd);
}

// Puts the demuxer at the data packet that begins at pos. Only a seek to the start makes the
// demuxer forget the packet it was in, so the reader goes there first and on by bytes.
HRESULT Reader::SeekToPosition(int64_t pos) {
  HRESULT hr = SeekTo(-1, 0);
  if (FAILED(hr)) return hr;
  if (pos > dataStart_ && avio_seek(ctx_->pb, pos, SEEK_SET) < 0) return E_FAIL;
  return S_OK;
}

// Where the read of a range that opens on the anchor's key sample must begin so that every other
// selected stream delivers all its samples from the key's time on. Each stream of an ASF clip is
// stored ahead of its presentation time by up to its buffer window, the sound often seconds
// before the pictures of the same time, so its samples that belong with the key frame may lie
// before the key frame's packet. From the key frame's packet on, the first sample of every other
// stream tells: when the sample before it could still lie at or after the key's time, that
// stream starts earlier in the file, and the read moves back by about as much of the file as the
// stream is ahead, until every stream is covered. Clips that store their streams side by side
// cost one short look from the key frame's packet.
int64_t Reader::LeadStart(int anchor, int64_t key, int64_t keyPos) {
  const int64_t packet = ctx_->packet_size;
  if (keyPos < 0 || dataStart_ < 0 || packet <= 0) return -1;
  if (keyPos <= dataStart_) return dataStart_;
  int64_t pos = dataStart_ + (keyPos - dataStart_) / packet * packet;
  // Never further back than any stream can be ahead, with room for a varying bit rate.
  const int64_t maxBack =
      bytesPerCns_ > 0 ? SaturatingFromDouble(bytesPerCns_ * static_cast<double>(2 * maxLead_))
                       : 4096 * packet;
  size_t others = 0;
  for (size_t i = 0; i < state_.size(); ++i)
    if (state_[i]->selected && static_cast<int>(i) != anchor) ++others;
  for (int probe = 0; probe < kLeadProbes && others > 0; ++probe) {
    if (FAILED(SeekToPosition(pos))) return -1;
    ApplyDiscard();
    std::vector<bool> seen(streams_.size(), false);
    size_t pending = others;
    int64_t ahead = 0;  // how far after the key's time the furthest stream starts here
    bool atEnd = true;
    while (pending > 0 && ReadPacket(pkt_) == S_OK) {
      const int i = pkt_->stream_index;
      if (i < 0 || static_cast<size_t>(i) >= streams_.size() || !state_[i]->selected) continue;
      const int64_t t = PacketTime(pkt_, ctx_->streams[i]);
      if (t == INT64_MIN) continue;
      if (i == anchor) {
        if (t > SaturatingAdd(key, maxLead_)) {
          atEnd = false;  // a stream not seen by now is stored behind, or has ended long before
          break;
        }
        continue;
      }
      if (seen[i]) continue;
      seen[i] = true;
      --pending;
      // A stream's samples do not overlap: the one before ends by this one's time, less the
      // rounding of times to whole milliseconds. A stream further ahead than any buffer window
      // has a gap or a damaged time here, not samples of the key's time stored before.
      const int64_t lead = SaturatingSub(t, key);
      if (SaturatingAdd(SaturatingSub(t, SampleDuration(i, pkt_)), kTimeStep) >= key &&
          lead <= maxLead_)
        ahead = std::max(ahead, lead);
    }
    av_packet_unref(pkt_);
    // A stream with nothing from here to the end of the clip is stored further ahead still, all
    // of it before this point: look further back each time.
    if (pending > 0 && atEnd) ahead = std::max(ahead, kLeadGuess << probe);
    if (ahead == 0 || pos <= dataStart_ || keyPos - pos >= maxBack) break;
    int64_t step = SaturatingFromDouble(bytesPerCns_ * static_cast<double>(ahead + kLeadMargin));
    step = std::max(step, 8 * packet);
    step = std::min(step, maxBack);
    pos = std::max(dataStart_, pos - (step + packet - 1) / packet * packet);
  }
  return pos;
}

HRESULT Reader::SetRange(int64_t start, int64_t duration) {
  if (!IsOpen()) return NS_E_INVALID_REQUEST;
  if (start < 0 || duration < 0) return E_INVALIDARG;
  ranged_ = true;
  exhausted_ = false;
  start_ = start;
  end_ = duration == 0 ? INT64_MAX : start + duration;
  for (size_t i = 0; i < state_.size(); ++i) {
    state_[i]->ended = false;
    state_[i]->needKey = streams_[i].kind == Kind::Video;  // pictures begin on a key frame
    state_[i]->skip = 0;
    state_[i]->lastTime = INT64_MIN;
  }
  anchor_ = AnchorIndex();
  if (anchor_ < 0) {
    exhausted_ = true;  // nothing selected: nothing to deliver
    return S_OK;
  }

  RangeStart where;
  HRESULT hr = LocateRange(anchor_, start, &where);
  if (FAILED(hr)) return hr;
  if (start > 0 && (!where.found || where.pastEnd) &&
      streams_[static_cast<size_t>(anchor_)].kind == Kind::Video) {
    // Pictures that end before the range or begin after it do not say where it opens: the
    // sound does, and the pictures join it at their next key frame.
    for (size_t i = 0; i < streams_.size(); ++i) {
      if (!state_[i]->selected || streams_[i].kind == Kind::Video) continue;
      RangeStart sound;
      hr = LocateRange(static_cast<int>(i), start, &sound);
      if (FAILED(hr)) return hr;
      if (sound.found && !sound.pastEnd) {
        anchor_ = static_cast<int>(i);
        where = sound;
      }
      break;
    }
  }
  if (where.pastEnd) {
    exhausted_ = true;  // the range begins after the clip ends
    return S_OK;
  }
  // Pictures of a later position decoded from the same key frame go on from the last one
  // given out, instead of decoding the whole run again.
  StreamState& a = *state_[static_cast<size_t>(anchor_)];
  const bool goOn = where.found && streams_[static_cast<size_t>(anchor_)].kind == Kind::Video &&
                    !a.compressed && a.warm && a.decodedKey == where.key && start > a.decodedUpTo;
  if (goOn)
    a.skip = a.fedCount;
  else
    ResetDecoders();
  // A copied range also takes the samples of its other streams that are stored ahead of its key
  // frame.
  const int64_t from =
      where.found && a.compressed ? LeadStart(anchor_, where.key, where.keyPos) : -1;
  hr = from >= 0 ? SeekToPosition(from) : SeekTo(anchor_, where.seekTime);
  if (FAILED(hr)) return hr;
  ApplyDiscard();
  if (where.found) {
    origin_ = where.key;
  } else {
    // The range opens the clip: every stream from its first sample.
    origin_ = FirstSampleTime(anchor_);
    hr = SeekTo(anchor_, where.seekTime);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Reader::Decode(int index, AVPacket* pkt, Sample* sample, bool* produced) {
  *produced = false;
  StreamState& s = *state_[static_cast<size_t>(index)];
  const AVStream* st = ctx_->streams[index];
  if (s.decoder == nullptr) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (codec == nullptr) return E_FAIL;
    s.decoder = avcodec_alloc_context3(codec);
    if (s.decoder == nullptr) return E_OUTOFMEMORY;
    if (avcodec_parameters_to_context(s.decoder, st->codecpar) < 0 ||
        avcodec_open2(s.decoder, codec, nullptr) < 0) {
      avcodec_free_context(&s.decoder);
      return E_FAIL;
    }
    s.decoder->pkt_timebase = st->time_base;
  }
  if (avcodec_send_packet(s.decoder, pkt) < 0 && pkt != nullptr) {
    s.warm = false;  // a corrupt sample: the decoder's state no longer follows the file
    return S_OK;
  }
  if (pkt != nullptr) {
    s.warm = true;
    s.decodedKey = origin_;
    ++s.fedCount;
  }
  AVFrame* frame = av_frame_alloc();
  if (frame == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = S_OK;
  while (avcodec_receive_frame(s.decoder, frame) >= 0) {
    int64_t ts =
        frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    int64_t t =
        ts == AV_NOPTS_VALUE ? INT64_MIN : av_rescale_q(ts, st->time_base, AVRational{1, 10000000});
    if (t != INT64_MIN) s.decodedUpTo = t;
    bool wanted = !*produced && t != INT64_MIN && t >= start_ && t < end_;
    if (t != INT64_MIN && t >= end_) s.ended = true;
    if (wanted) {
      const int w = streams_[static_cast<size_t>(index)].width;
      const int h = streams_[static_cast<size_t>(index)].height;
      if (s.scaler == nullptr || s.scalerW != frame->width || s.scalerH != frame->height ||
          s.scalerFmt != frame->format) {
        sws_freeContext(s.scaler);
        s.scaler =
            sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                           w, h, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
        s.scalerW = frame->width;
        s.scalerH = frame->height;
        s.scalerFmt = frame->format;
      }
      if (s.scaler == nullptr) {
        hr = E_FAIL;
        break;
      }
      // The scaler writes whole vectors: a row of a width that is no multiple of them runs
      // past its end. It writes into aligned rows with room to spare, which are then laid out
      // bottom-up, as the output's bitmap header says.
      const size_t row = static_cast<size_t>(w) * 4u;
      const size_t stride = (row + 63) / 64 * 64;
      s.scaled.resize(stride * static_cast<size_t>(h) + 64);
      uint8_t* dst[4] = {s.scaled.data(), nullptr, nullptr, nullptr};
      int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
      sws_scale(s.scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
      sample->pixels_.resize(row * static_cast<size_t>(h));
      for (int y = 0; y < h; ++y)
        std::memcpy(sample->pixels_.data() + static_cast<size_t>(h - 1 - y) * row,
                    s.scaled.data() + static_cast<size_t>(y) * stride, row);
      sample->decoded_ = true;
      sample->codec_ = st->codecpar;
      sample->time = t;
      sample->duration = streams_[static_cast<size_t>(index)].avgTimePerFrame;
      sample->flags = frame->key_frame ? kSampleCleanPoint : 0;
      sample->streamNumber = static_cast<uint16_t>(index + 1);
      *produced = true;
    }
    av_frame_unref(frame);
  }
  av_frame_free(&frame);
  return hr;
}

HRESULT Reader::GetNextSample(uint16_t number, Sample* sample) {
  if (sample == nullptr) return E_INVALIDARG;
  if (!IsOpen()) return E_UNEXPECTED;
  if (number != 0 && IndexOf(number) < 0) return NS_E_INVALID_STREAM;
  if (!ranged_) {
    HRESULT hr = SetRange(0, 0);
    if (FAILED(hr)) return hr;
  }
  sample->decoded_ = false;
  sample->pixels_.clear();
  av_packet_unref(sample->packet_);
  if (exhausted_) return NS_E_NO_MORE_SAMPLES;

  for (;;) {
    HRESULT hr = ReadPacket(pkt_);
    if (hr != S_OK) {
      exhausted_ = true;
      return hr == NS_E_NO_MORE_SAMPLES ? hr : E_FAIL;
    }
    const int i = pkt_->stream_index;
    if (i < 0 || static_cast<size_t>(i) >= streams_.size()) continue;
    StreamState& s = *state_[static_cast<size_t>(i)];
    if (!s.selected) continue;
    const int64_t t = PacketTime(pkt_, ctx_->streams[i]);
    if (t == INT64_MIN) continue;
    // A damaged time far past the clip's end, or far ahead of its stream, is no sample of the
    // clip: taken, it would move the rest of the stream there.
    if (declaredEnd_ != INT64_MAX && t > SaturatingAdd(declaredEnd_, kDamagedSlack)) continue;
    if (s.lastTime != INT64_MIN && t > SaturatingAdd(s.lastTime, kMaxJump)) continue;
    if (s.lastTime == INT64_MIN && t > SaturatingAdd(std::max(origin_, start_), kMaxJump)) continue;
    s.lastTime = t;
    // Nothing of the range can follow a sample this far past its end, however far ahead
    // another stream is stored.
    if (end_ != INT64_MAX && t >= SaturatingAdd(end_, maxLead_)) {
      exhausted_ = true;
      return NS_E_NO_MORE_SAMPLES;
    }
    const bool key =
        streams_[static_cast<size_t>(i)].kind != Kind::Video || (pkt_->flags & AV_PKT_FLAG_KEY);
    // Nothing from before the sample that opens the range, and pictures from a key frame on.
    if (t < origin_) continue;
    if (s.needKey) {
      if (!key) continue;
      s.needKey = false;
    }
    if (s.skip > 0) {
      --s.skip;  // the decoder has this one already
      continue;
    }
    if (t >= end_) {
      s.ended = true;
      bool all = true;
      for (auto& other : state_)
        if (other->selected && !other->ended) all = false;
      if (all) {
        exhausted_ = true;
        return NS_E_NO_MORE_SAMPLES;
      }
      continue;
    }
    if (number != 0 && i + 1 != number) continue;

    if (!s.compressed) {
      // Decoded delivery exists for pictures only; audio is only ever copied.
      if (streams_[static_cast<size_t>(i)].kind != Kind::Video) continue;
      bool produced = false;
      hr = Decode(i, pkt_, sample, &produced);
      if (FAILED(hr)) return hr;
      if (produced) return S_OK;
      continue;
    }
    av_packet_move_ref(sample->packet_, pkt_);
    sample->codec_ = ctx_->streams[i]->codecpar;
    sample->time = t;
    sample->duration = SampleDuration(i, sample->packet_);
    sample->flags = key ? kSampleCleanPoint : 0;
    sample->streamNumber = static_cast<uint16_t>(i + 1);
    return S_OK;
  }
}

}  // namespace wm
