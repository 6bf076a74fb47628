#include "ScrubPreview.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "DbgLog.h"
#include "PreviewGeometry.h"
#include "WmReader.h"

namespace qmvedit {

namespace {

constexpr int64_t kCnsPerMs = 10000;
// The engine's preview looks no further than this past a position for its frame.
constexpr int64_t kAnswerWindow = 10000000;  // 1 s
// Decoding on through a key frame this close beats starting again from it.
constexpr int64_t kGoOnThroughKey = 10000000;  // 1 s
// Groups of pictures whose frame times are kept at most.
constexpr size_t kMaxGroups = 256;

using Pixels = std::shared_ptr<const std::vector<uint8_t>>;

struct CachedFrame {
  int64_t time = 0;
  Pixels pixels;  // null once dropped for room; the time stays known
};

// Pictures of one group of pictures, in order from its key frame on, with none missing between.
struct Group {
  std::vector<CachedFrame> frames;
  bool complete = false;    // the next key frame (or the clip's end) was reached
  bool lastOfClip = false;  // nothing follows the last frame
  int64_t nextKey = INT64_MIN;
  uint64_t lastUse = 0;
};

}  // namespace

struct ScrubPreview::State {
  explicit State(size_t budget) : budget(std::min(budget, kMaxBudget)) {}

  // Shared between the window's thread and the worker, under mu.
  std::mutex mu;
  std::condition_variable wake;
  std::condition_variable idle;
  bool stop = false;
  bool openPending = false;
  std::string openPath;
  uint64_t clip = 0;  // generation of the newest Open
  std::vector<int32_t> keysMs;
  bool keysChanged = false;
  int dispW = 0, dispH = 0;
  uint64_t reqSeq = 0, servedSeq = 0;
  int32_t reqPos = 0;
  bool busy = false;
  bool clipOk = false;
  std::shared_ptr<ScrubPicture> ready;
  std::function<void()> notify;
  ScrubStats shared;
  // Read between frames without the lock.
  std::atomic<uint64_t> latestSeq{0};
  std::atomic<bool> interrupt{false};  // stop or a new clip

  // Worker only.
  const size_t budget;
  wm::Reader reader;
  wm::Reader probe;  // finds the key frame of a position without moving the decode
  uint16_t video = 0;
  int videoW = 0, videoH = 0;
  AVCodecContext* decoder = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  int scalerSrcW = 0, scalerSrcH = 0, scalerFmt = -1, scalerDstW = 0, scalerDstH = 0;
  std::vector<uint8_t> scratch;
  uint64_t workerClip = 0;
  std::vector<int64_t> keys;  // 100 ns
  int fitForW = -1, fitForH = -1;
  FitRect fit{0, 0, 0, 0};
  // Where the decoder is: live after a range was set, fed up to lastFrame in group curKey.
  bool live = false;
  int64_t curKey = INT64_MIN;
  int64_t lastFrame = INT64_MIN;
  std::map<int64_t, Group> groups;
  uint64_t tick = 0;
  ScrubStats stats;

  std::thread worker;

  ~State() {
    avcodec_free_context(&decoder);
    av_frame_free(&frame);
    av_packet_free(&packet);
    sws_freeContext(scaler);
  }

  void Run();
  void OpenClip(const std::string& path, uint64_t gen);
  void Serve(uint64_t seq, int32_t posMs, int dw, int dh);
  bool Interrupted(uint64_t seq) const {
    return interrupt.load(std::memory_order_relaxed) ||
           latestSeq.load(std::memory_order_relaxed) != seq;
  }
  // Answer from memory: 1 found, 0 nothing at this position, -1 not known.
  int Lookup(int64_t pos, CachedFrame* out);
  int64_t KeyAtOrBefore(int64_t pos);
  bool Seek(int64_t pos);
  Pixels Scale(const AVFrame* f);
  void StartGroup(int64_t key);
  void AddFrame(int64_t time, const Pixels& pixels);
  void MakeRoom(size_t bytes);
  bool DropOldestGroup();
  void ClearCache();
  void Publish(int32_t posMs, int64_t time, const Pixels& pixels);
  void SyncStats();
};

void ScrubPreview::State::SyncStats() {
  stats.groups = groups.size();
  std::lock_guard<std::mutex> lk(mu);
  shared = stats;
}

void ScrubPreview::State::ClearCache() {
  groups.clear();
  stats.cacheBytes = 0;
}

void ScrubPreview::State::OpenClip(const std::string& path, uint64_t gen) {
  workerClip = gen;
  reader.Close();
  probe.Close();
  avcodec_free_context(&decoder);
  live = false;
  curKey = lastFrame = INT64_MIN;
  video = 0;
  keys.clear();
  ClearCache();
  fitForW = fitForH = -1;
  bool ok = false;
  if (!path.empty() && reader.Open(path.c_str()) == S_OK && probe.Open(path.c_str()) == S_OK) {
    const wm::StreamInfo* info = nullptr;
    for (const wm::StreamInfo& s : reader.Streams())
      if (s.kind == wm::Kind::Video) {
        info = &s;
        break;
      }
    if (info != nullptr && info->codec != nullptr) {
      video = info->number;
      videoW = info->width;
      videoH = info->height;
      // Only the pictures are read, as the file holds them; the decoding is done here.
      for (wm::Reader* r : {&reader, &probe}) {
        for (const wm::StreamInfo& s : r->Streams())
          r->SetStreamSelected(s.number, s.number == video);
        r->SetReadStreamSamples(video, true);
      }
      const AVCodec* codec = avcodec_find_decoder(info->codec->codec_id);
      decoder = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
      if (decoder != nullptr && avcodec_parameters_to_context(decoder, info->codec) >= 0) {
        decoder->pkt_timebase = AVRational{1, 10000000};
        decoder->thread_count = 1;
        ok = avcodec_open2(decoder, codec, nullptr) >= 0;
      }
      if (!ok) avcodec_free_context(&decoder);
    }
  }
  if (!ok) {
    if (!path.empty()) DbgLog(1, -1, "Preview cannot read %s\n", path.c_str());
    reader.Close();
    probe.Close();
    video = 0;
  }
  std::lock_guard<std::mutex> lk(mu);
  clipOk = ok;
}

int ScrubPreview::State::Lookup(int64_t pos, CachedFrame* out) {
  auto it = groups.upper_bound(pos);
  if (it == groups.begin()) return -1;
  --it;
  Group& g = it->second;
  auto f = std::lower_bound(g.frames.begin(), g.frames.end(), pos,
                            [](const CachedFrame& c, int64_t t) { return c.time < t; });
  const CachedFrame* found = nullptr;
  if (f != g.frames.end()) {
    found = &*f;
    g.lastUse = ++tick;
  } else if (g.complete) {
    if (g.lastOfClip) return 0;
    auto next = groups.find(g.nextKey);
    if (next == groups.end() || next->second.frames.empty()) return -1;
    found = &next->second.frames.front();
    next->second.lastUse = ++tick;
  } else {
    return -1;
  }
  if (found->time >= pos + kAnswerWindow) return 0;
  if (!found->pixels) return -1;
  *out = *found;
  return 1;
}

int64_t ScrubPreview::State::KeyAtOrBefore(int64_t pos) {
  if (!keys.empty()) {
    auto it = std::upper_bound(keys.begin(), keys.end(), pos);
    return it == keys.begin() ? INT64_MIN : *(it - 1);
  }
  // No list: a second reader says where a range of this position would open.
  if (probe.SetRange(pos, 0) != S_OK) return INT64_MAX;
  return probe.RangeOrigin();
}

bool ScrubPreview::State::Seek(int64_t pos) {
  live = false;
  if (reader.SetRange(pos, 0) != S_OK) return false;
  avcodec_flush_buffers(decoder);
  ++stats.seeks;
  live = true;
  curKey = INT64_MIN;
  lastFrame = INT64_MIN;
  return true;
}

Pixels ScrubPreview::State::Scale(const AVFrame* f) {
  const int w = fit.width, h = fit.height;
  if (scaler == nullptr || scalerSrcW != f->width || scalerSrcH != f->height ||
      scalerFmt != f->format || scalerDstW != w || scalerDstH != h) {
    sws_freeContext(scaler);
    scaler = sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h,
                            AV_PIX_FMT_BGR0, SWS_AREA, nullptr, nullptr, nullptr);
    scalerSrcW = f->width;
    scalerSrcH = f->height;
    scalerFmt = f->format;
    scalerDstW = w;
    scalerDstH = h;
  }
  if (scaler == nullptr) return nullptr;
  // The scaler writes whole vectors past the end of a row: it writes into aligned rows with room
  // to spare, which are then packed.
  const size_t row = static_cast<size_t>(w) * 4u;
  const size_t stride = (row + 63) / 64 * 64;
  scratch.resize(stride * static_cast<size_t>(h) + 64);
  uint8_t* dst[4] = {scratch.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
  sws_scale(scaler, f->data, f->linesize, 0, f->height, dst, dstStride);
  auto out = std::make_shared<std::vector<uint8_t>>();
  try {
    out->resize(row * static_cast<size_t>(h));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  for (int y = 0; y < h; ++y)
    std::memcpy(out->data() + static_cast<size_t>(y) * row,
                scratch.data() + static_cast<size_t>(y) * stride, row);
  return out;
}

void ScrubPreview::State::StartGroup(int64_t key) {
  if (curKey != INT64_MIN && key > curKey) {
    Group& prev = groups[curKey];
    prev.complete = true;
    prev.nextKey = key;
  }
  curKey = key;
  groups[key].lastUse = ++tick;
  // The times of groups whose pictures did not fit are kept too, but not for every group of a
  // long clip.
  while (groups.size() > kMaxGroups && DropOldestGroup()) {
  }
}

// Drops the least recently used group of pictures other than the one being decoded.
bool ScrubPreview::State::DropOldestGroup() {
  auto victim = groups.end();
  for (auto it = groups.begin(); it != groups.end(); ++it)
    if (it->first != curKey &&
        (victim == groups.end() || it->second.lastUse < victim->second.lastUse))
      victim = it;
  if (victim == groups.end()) return false;
  for (const CachedFrame& f : victim->second.frames)
    if (f.pixels) stats.cacheBytes -= f.pixels->size();
  groups.erase(victim);
  return true;
}

// Drops whole groups, least recently used first, and then the oldest pictures of the group being
// decoded, until `bytes` more fit into the budget.
void ScrubPreview::State::MakeRoom(size_t bytes) {
  while (stats.cacheBytes + bytes > budget) {
    if (DropOldestGroup()) continue;
    auto cur = groups.find(curKey);
    bool freed = false;
    if (cur != groups.end())
      for (CachedFrame& f : cur->second.frames)
        if (f.pixels) {
          stats.cacheBytes -= f.pixels->size();
          f.pixels.reset();
          freed = true;
          break;
        }
    if (!freed) return;
  }
}

void ScrubPreview::State::AddFrame(int64_t time, const Pixels& pixels) {
  if (curKey == INT64_MIN) return;  // not from a key frame on: no place in the cache
  Group& g = groups[curKey];
  g.lastUse = ++tick;
  CachedFrame* slot = nullptr;
  if (g.frames.empty() || time > g.frames.back().time) {
    g.frames.push_back(CachedFrame{time, nullptr});
    slot = &g.frames.back();
  } else {
    auto f = std::lower_bound(g.frames.begin(), g.frames.end(), time,
                              [](const CachedFrame& c, int64_t t) { return c.time < t; });
    if (f == g.frames.end() || f->time != time) return;
    slot = &*f;
  }
  if (slot->pixels || !pixels) return;
  const size_t bytes = pixels->size();
  if (bytes > budget) return;
  MakeRoom(bytes);
  if (stats.cacheBytes + bytes > budget) return;
  // MakeRoom erases other groups only: g and slot stay valid.
  slot->pixels = pixels;
  stats.cacheBytes += bytes;
  stats.peakCacheBytes = std::max(stats.peakCacheBytes, stats.cacheBytes);
}

void ScrubPreview::State::Publish(int32_t posMs, int64_t time, const Pixels& pixels) {
  auto pic = std::make_shared<ScrubPicture>();
  pic->clip = workerClip;
  pic->requestMs = posMs;
  pic->frameTime = time;
  pic->displayW = fitForW;
  pic->displayH = fitForH;
  pic->x = fit.x;
  pic->y = fit.y;
  pic->width = fit.width;
  pic->height = fit.height;
  pic->pixels = pixels;
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lk(mu);
    if (pic->clip != clip) return;
    ready = std::move(pic);
    ++stats.published;
    call = notify;
  }
  if (call) call();
}

void ScrubPreview::State::Serve(uint64_t seq, int32_t posMs, int dw, int dh) {
  if (video == 0 || decoder == nullptr || posMs < 0) return;
  if (dw != fitForW || dh != fitForH) {
    ClearCache();
    fitForW = dw;
    fitForH = dh;
    fit = FitPicture(videoW, videoH, std::abs(dw), std::abs(dh));
  }
  if (fit.width <= 0 || fit.height <= 0) return;
  const int64_t pos = static_cast<int64_t>(posMs) * kCnsPerMs;

  CachedFrame hit;
  const int known = Lookup(pos, &hit);
  if (known == 1) {
    ++stats.fromMemory;
    Publish(posMs, hit.time, hit.pixels);
    return;
  }
  if (known == 0) return;  // past the clip's last frame: the previous picture stays

  // Go on from where the decoder is when the position lies ahead in its group (or just past the
  // next key frame); otherwise start again from the position's key frame.
  bool goOn = live && curKey != INT64_MIN && pos > lastFrame;
  // Close ahead, going on is right whatever key frame lies between: no need to look.
  if (goOn && pos - lastFrame > kGoOnThroughKey) {
    const int64_t key = KeyAtOrBefore(pos);
    goOn = key <= lastFrame || key - lastFrame <= kGoOnThroughKey;
  }
  if (!goOn && !Seek(pos)) return;

  wm::Sample sample;
  for (;;) {
    if (Interrupted(seq)) {
      ++stats.dropped;
      return;  // the decoder stays where it is for the next position
    }
    HRESULT hr = reader.GetNextSample(video, &sample);
    const bool end = hr != S_OK;
    if (end) {
      live = false;
      if (hr != NS_E_NO_MORE_SAMPLES) return;  // a read error: nothing more of this run
      avcodec_send_packet(decoder, nullptr);
    } else {
      if (sample.flags & wm::kSampleCleanPoint) StartGroup(sample.time);
      av_packet_unref(packet);
      if (av_packet_ref(packet, sample.Packet()) < 0) return;
      packet->pts = sample.time;
      packet->dts = AV_NOPTS_VALUE;
      if (avcodec_send_packet(decoder, packet) < 0) continue;  // a damaged sample
    }
    bool answered = false;
    int64_t answerTime = 0;
    Pixels answer;
    while (avcodec_receive_frame(decoder, frame) >= 0) {
      const int64_t t = frame->best_effort_timestamp != AV_NOPTS_VALUE
                            ? frame->best_effort_timestamp
                            : frame->pts;
      if (t != AV_NOPTS_VALUE) {
        ++stats.framesDecoded;
        lastFrame = t;
        Pixels px = Scale(frame);
        AddFrame(t, px);
        if (!answered && t >= pos) {
          answered = true;
          answerTime = t;
          answer = px;
        }
      }
      av_frame_unref(frame);
    }
    if (end) {
      auto g = groups.find(curKey);
      if (g != groups.end()) {
        g->second.complete = true;
        g->second.lastOfClip = true;
      }
      curKey = INT64_MIN;
      avcodec_flush_buffers(decoder);
    }
    if (answered) {
      if (answerTime < pos + kAnswerWindow && answer) Publish(posMs, answerTime, answer);
      return;
    }
    if (end) return;
  }
}

void ScrubPreview::State::Run() {
  std::unique_lock<std::mutex> lk(mu);
  for (;;) {
    wake.wait(lk, [&] { return stop || openPending || reqSeq != servedSeq; });
    if (stop) break;
    busy = true;
    if (openPending) {
      openPending = false;
      const std::string path = openPath;
      const uint64_t gen = clip;
      interrupt.store(false);
      lk.unlock();
      OpenClip(path, gen);
      SyncStats();
      lk.lock();
    } else {
      const uint64_t seq = reqSeq;
      const int32_t pos = reqPos;
      const int dw = dispW, dh = dispH;
      if (keysChanged) {
        keysChanged = false;
        keys.clear();
        for (int32_t k : keysMs) keys.push_back(static_cast<int64_t>(k) * kCnsPerMs);
      }
      lk.unlock();
      Serve(seq, pos, dw, dh);
      SyncStats();
      lk.lock();
      if (servedSeq < seq) servedSeq = seq;
    }
    busy = false;
    idle.notify_all();
  }
  busy = false;
  idle.notify_all();
}

ScrubPreview::ScrubPreview(size_t budgetBytes) : m_state(std::make_unique<State>(budgetBytes)) {
  State* s = m_state.get();
  s->frame = av_frame_alloc();
  s->packet = av_packet_alloc();
  s->worker = std::thread([s] { s->Run(); });
}

ScrubPreview::~ScrubPreview() {
  {
    std::lock_guard<std::mutex> lk(m_state->mu);
    m_state->stop = true;
    m_state->interrupt.store(true);
  }
  m_state->wake.notify_all();
  if (m_state->worker.joinable()) m_state->worker.join();
}

void ScrubPreview::SetNotify(std::function<void()> notify) {
  std::lock_guard<std::mutex> lk(m_state->mu);
  m_state->notify = std::move(notify);
}

void ScrubPreview::Open(const std::string& path) {
  {
    std::lock_guard<std::mutex> lk(m_state->mu);
    ++m_state->clip;
    m_state->openPending = true;
    m_state->openPath = path;
    m_state->keysMs.clear();
    m_state->keysChanged = true;
    m_state->ready.reset();
    m_state->clipOk = false;
    // What was asked of the previous clip is not wanted any more.
    m_state->servedSeq = m_state->reqSeq;
    m_state->interrupt.store(true);
  }
  m_state->wake.notify_all();
}

void ScrubPreview::SetKeyFrames(std::vector<int32_t> timesMs) {
  std::sort(timesMs.begin(), timesMs.end());
  std::lock_guard<std::mutex> lk(m_state->mu);
  m_state->keysMs = std::move(timesMs);
  m_state->keysChanged = true;
}

void ScrubPreview::SetDisplaySize(int width, int height) {
  std::lock_guard<std::mutex> lk(m_state->mu);
  m_state->dispW = width;
  m_state->dispH = height;
}

void ScrubPreview::Request(int32_t posMs) {
  {
    std::lock_guard<std::mutex> lk(m_state->mu);
    m_state->reqPos = posMs;
    ++m_state->reqSeq;
    m_state->latestSeq.store(m_state->reqSeq);
  }
  m_state->wake.notify_all();
}

std::shared_ptr<const ScrubPicture> ScrubPreview::Take() {
  std::lock_guard<std::mutex> lk(m_state->mu);
  std::shared_ptr<ScrubPicture> pic = std::move(m_state->ready);
  m_state->ready.reset();
  if (pic == nullptr || pic->clip != m_state->clip || pic->displayW != m_state->dispW ||
      pic->displayH != m_state->dispH)
    return nullptr;
  return pic;
}

bool ScrubPreview::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lk(m_state->mu);
  return m_state->idle.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
    return !m_state->openPending && !m_state->busy && m_state->servedSeq == m_state->reqSeq;
  });
}

bool ScrubPreview::ClipOpen() const {
  std::lock_guard<std::mutex> lk(m_state->mu);
  return m_state->clipOk;
}

ScrubStats ScrubPreview::Stats() const {
  std::lock_guard<std::mutex> lk(m_state->mu);
  return m_state->shared;
}

bool ScrubPreview::Draw(const ScrubPicture& p, CDisplayWindow* display) {
  if (display == nullptr || !p.pixels || p.width <= 0 || p.height <= 0 ||
      p.pixels->size() < static_cast<size_t>(p.width) * 4u * static_cast<size_t>(p.height))
    return false;
  return display->DrawImage(p.pixels->data(), p.width, p.height, p.width * 4, p.x, p.y, p.width,
                            p.height);
}

}  // namespace qmvedit
