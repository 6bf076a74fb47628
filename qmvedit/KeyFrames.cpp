#include "KeyFrames.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "WinTypes.h"

namespace qmvedit {

namespace {

// A data packet that holds the start of an indexed key frame also holds the ends of frames
// before it and often small frames after it; this many frames read from it are plenty.
constexpr int kFramesPerIndexedPacket = 64;
// The simple index points, for each interval, at the latest key frame before it: key frames
// closer together than two intervals may share an interval, and then only the later one is
// indexed. Such a clip gets a full pass instead.
constexpr int kIntervalsBetweenIndexedKeys = 2;
// Objects looked at behind the data object for the simple index.
constexpr int kTrailingObjects = 16;

uint64_t Le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The time interval of the simple index object that follows the data object, in ms; 0 when
// there is none. The demuxer, asked to seek in a clip without one, searches the file and leaves
// what it met as index entries of its own, which are no list of every key frame: the file itself
// tells whether there is an index.
int64_t SimpleIndexInterval(AVIOContext* pb) {
  // ASF_Simple_Index_Object 33000890-E5B1-11CF-89F4-00A0C90349CB, as stored.
  static const uint8_t kSimpleIndex[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                           0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
  const int64_t size = avio_size(pb);
  const int64_t back = avio_tell(pb);
  int64_t interval = 0;
  uint8_t head[24 + 16 + 8];
  int64_t at = 0;
  for (int n = 0; n < kTrailingObjects + 2 && size > 0 && at >= 0 && at + 24 <= size; ++n) {
    if (avio_seek(pb, at, SEEK_SET) < 0 || avio_read(pb, head, 24) != 24) break;
    if (n >= 2 && std::memcmp(head, kSimpleIndex, 16) == 0) {
      // Then the file id and the entry time interval in 100-ns units.
      if (avio_read(pb, head + 24, 24) == 24)
        interval = std::max<int64_t>(1, static_cast<int64_t>(Le64(head + 40) / 10000));
      break;
    }
    const uint64_t objectSize = Le64(head + 16);  // header object, data object, then the rest
    if (objectSize < 24 || objectSize > static_cast<uint64_t>(size - at)) break;
    at += static_cast<int64_t>(objectSize);
  }
  avio_seek(pb, back, SEEK_SET);
  return std::min<int64_t>(interval, 3600 * 1000);
}

}  // namespace

struct KeyFrameScan::State {
  AVFormatContext* ctx = nullptr;
  AVPacket* pkt = nullptr;
  int video = -1;
  bool done = true;
  bool indexed = false;
  std::vector<int64_t> positions;  // distinct indexed data packets, in file order
  size_t next = 0;                 // next indexed packet to read
  int64_t intervalMs = 0;
  std::vector<int32_t> times;

  ~State() {
    av_packet_free(&pkt);
    if (ctx != nullptr) avformat_close_input(&ctx);
  }

  int32_t Ms(const AVPacket* p) const {
    const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (ts == AV_NOPTS_VALUE) return INT32_MIN;
    const int64_t ms = av_rescale_q(ts, ctx->streams[video]->time_base, AVRational{1, 1000});
    return ms < 0 || ms > INT32_MAX ? INT32_MIN : static_cast<int32_t>(ms);
  }

  // Back to the first data packet; the demuxer forgets the packet it was in only there.
  bool Rewind() { return av_seek_frame(ctx, video, 0, AVSEEK_FLAG_BACKWARD) >= 0; }

  void Finish() {
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    done = true;
    av_packet_unref(pkt);
  }

  // The index did not hold up (a packet without the key frame it points at, or key frames
  // too close for it to show them all): one pass over all packets instead.
  void StartPass() {
    indexed = false;
    times.clear();
    if (!Rewind()) Finish();
  }

  // The first video key frame that starts in the indexed data packet at pos.
  bool ReadIndexed(int64_t pos) {
    if (!Rewind() || avio_seek(ctx->pb, pos, SEEK_SET) < 0) return false;
    for (int n = 0; n < kFramesPerIndexedPacket; ++n) {
      av_packet_unref(pkt);
      if (av_read_frame(ctx, pkt) < 0) return false;
      if (pkt->stream_index != video) continue;
      if (pkt->pos > pos) return false;  // the packet holds no start of a key frame
      if (pkt->pos < pos || !(pkt->flags & AV_PKT_FLAG_KEY)) continue;
      const int32_t t = Ms(pkt);
      if (t == INT32_MIN) return false;
      times.push_back(t);
      return true;
    }
    return false;
  }

  bool IndexShowsAll() const {
    for (size_t i = 1; i < times.size(); ++i)
      if (times[i] - times[i - 1] < kIntervalsBetweenIndexedKeys * intervalMs) return false;
    return true;
  }
};

KeyFrameScan::KeyFrameScan() : m_state(std::make_unique<State>()) {}
KeyFrameScan::~KeyFrameScan() = default;

HRESULT KeyFrameScan::Open(const char* path) {
  m_state = std::make_unique<State>();
  State& s = *m_state;
  if (path == nullptr) return NS_E_FILE_OPEN_FAILED;
  s.pkt = av_packet_alloc();
  if (s.pkt == nullptr) return E_OUTOFMEMORY;
  const AVInputFormat* asf = av_find_input_format("asf");
  if (avformat_open_input(&s.ctx, path, asf, nullptr) < 0) {
    s.ctx = nullptr;
    return NS_E_FILE_OPEN_FAILED;
  }
  for (unsigned i = 0; i < s.ctx->nb_streams; ++i) {
    AVStream* st = s.ctx->streams[i];
    if (s.video < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      s.video = static_cast<int>(i);
      st->discard = AVDISCARD_DEFAULT;
    } else {
      st->discard = AVDISCARD_ALL;  // nothing but the pictures' headers is wanted
    }
  }
  if (s.video < 0) return S_OK;  // no pictures: an empty list
  s.done = false;
  s.intervalMs = SimpleIndexInterval(s.ctx->pb);
  if (s.intervalMs <= 0) {
    s.StartPass();
    return S_OK;
  }
  // The demuxer loads the simple index on the first seek to a time; each entry is the data
  // packet holding the key frame of one interval, many intervals sharing one packet.
  AVStream* st = s.ctx->streams[s.video];
  av_seek_frame(s.ctx, s.video, av_rescale_q(1000, AVRational{1, 1000}, st->time_base),
                AVSEEK_FLAG_BACKWARD);
  const int entries = avformat_index_get_entries_count(st);
  for (int i = 0; i < entries; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(st, i);
    if (e != nullptr) s.positions.push_back(e->pos);
  }
  std::sort(s.positions.begin(), s.positions.end());
  s.positions.erase(std::unique(s.positions.begin(), s.positions.end()), s.positions.end());
  s.indexed = !s.positions.empty();
  if (!s.indexed) s.StartPass();
  return S_OK;
}

bool KeyFrameScan::Step(int budget) {
  State& s = *m_state;
  for (int n = 0; !s.done && n < std::max(budget, 1); ++n) {
    if (s.indexed) {
      if (s.next >= s.positions.size()) {
        if (s.IndexShowsAll())
          s.Finish();
        else
          s.StartPass();
        continue;
      }
      if (!s.ReadIndexed(s.positions[s.next++])) s.StartPass();
      continue;
    }
    av_packet_unref(s.pkt);
    if (av_read_frame(s.ctx, s.pkt) < 0) {
      s.Finish();  // the end of the clip, or a read error: what was found stays
      continue;
    }
    if (s.pkt->stream_index != s.video || !(s.pkt->flags & AV_PKT_FLAG_KEY)) continue;
    const int32_t t = s.Ms(s.pkt);
    if (t != INT32_MIN) s.times.push_back(t);
  }
  return s.done;
}

bool KeyFrameScan::Done() const {
  return m_state->done;
}

const std::vector<int32_t>& KeyFrameScan::Times() const {
  return m_state->times;
}

HRESULT ListKeyFrames(const char* path, std::vector<int32_t>* timesMs) {
  if (timesMs == nullptr) return E_INVALIDARG;
  timesMs->clear();
  KeyFrameScan scan;
  const HRESULT hr = scan.Open(path);
  if (FAILED(hr)) return hr;
  while (!scan.Step(4096)) {
  }
  *timesMs = scan.Times();
  return S_OK;
}

}  // namespace qmvedit
