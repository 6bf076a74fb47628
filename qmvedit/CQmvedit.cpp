// Edit session and range copy.
#include "CQmvedit.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>

#include "DbgLog.h"
#include "EditPreviewState.h"
#include "HeaderSanity.h"
#include "Messages.h"
#include "WmReader.h"
#include "WmWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// Keeps the window live during a copy without paying a dispatch per sample.
constexpr auto kDispatchInterval = std::chrono::milliseconds(10);
// Progress is posted less often than messages are dispatched, so the queue never fills up with
// stale values while the copy runs.
constexpr auto kProgressInterval = std::chrono::milliseconds(20);

wm::Kind KindFromArg(int kind) {
  switch (kind) {
    case 0:
      return wm::Kind::Audio;
    case 1:
      return wm::Kind::Video;
    default:
      return wm::Kind::Other;
  }
}

}  // namespace

CQmvedit::CQmvedit()
    : m_pReader(nullptr),
      m_pWriter(nullptr),
      m_pWriterAdvanced(nullptr),
      m_bSrcOpen(0),
      m_hNotifyWnd(nullptr),
      m_cnsWritten(0),
      m_hDispDC(nullptr),
      m_hBackBitmap(nullptr),
      m_hMemDC(nullptr),
      m_hDispWnd(nullptr),
      m_lVideoWidth(0),
      m_lVideoHeight(0),
      m_lastDispatch(),
      m_lastPost(),
      m_lastPostedMs(0),
      m_posted(false),
      m_copying(false),
      m_exitPending(false),
      m_copyResult(S_OK) {}

CQmvedit::~CQmvedit() {
  m_copying = false;
  Exit();
}

HRESULT CQmvedit::Init() {
  delete m_pReader;
  m_pReader = new (std::nothrow) wm::Reader();
  if (m_pReader == nullptr) DbgLog(1, 4, "Could not create Reader\n");
  delete m_pWriter;
  m_pWriter = new (std::nothrow) wm::Writer();
  if (m_pWriter == nullptr) {
    DbgLog(1, 4, "Could not create Writer\n");
    m_pWriterAdvanced = nullptr;
    return E_OUTOFMEMORY;
  }
  m_pWriterAdvanced = m_pWriter;
  return S_OK;
}

HRESULT CQmvedit::Exit() {
  if (m_copying) {
    m_exitPending = true;  // the running copy stops and releases the session itself
    return 0;
  }
  std::free(qmvedit::g_pOutputBih);
  qmvedit::g_pOutputBih = nullptr;
  m_hDispDC = nullptr;
  qmvedit::DeleteMemDC(m_hMemDC);
  m_hMemDC = nullptr;
  qmvedit::DeleteBitmap(m_hBackBitmap);
  m_hBackBitmap = nullptr;
  m_pWriterAdvanced = nullptr;
  if (m_pWriter != nullptr) {
    m_pWriter->Abort();  // a clip still being written is unfinished: it must not stay behind
    delete m_pWriter;
    m_pWriter = nullptr;
  }
  delete m_pReader;
  m_pReader = nullptr;
  m_bSrcOpen = 0;
  return 0;
}

void CQmvedit::SetNotifyWnd(CMsgWindow* wnd) {
  m_hNotifyWnd = wnd;
}

HRESULT CQmvedit::SetSrcFile(const char* path) {
  if (m_copying) return E_UNEXPECTED;
  if (m_bSrcOpen) SyncClose();
  if (m_pReader == nullptr) return E_UNEXPECTED;
  HRESULT hr = m_pReader->Open(path);
  m_bSrcOpen = hr == S_OK ? 1 : 0;
  return hr;
}

uint32_t CQmvedit::MeasureSrcLength() {
  if (m_copying || !m_bSrcOpen || m_pReader == nullptr) return 0;
  int64_t end = 0;
  if (FAILED(m_pReader->MeasureEnd(&end))) return 0;
  return static_cast<uint32_t>(std::min<int64_t>(end / 10000, UINT32_MAX));
}

HRESULT CQmvedit::SyncClose() {
  if (m_copying) return E_UNEXPECTED;
  if (m_pReader == nullptr) return E_UNEXPECTED;
  HRESULT hr = m_pReader->Close();
  m_bSrcOpen = 0;
  return hr;
}

HRESULT CQmvedit::SetDesFile(const char* path) {
  if (m_copying) return E_UNEXPECTED;
  if (m_pWriter == nullptr) return E_UNEXPECTED;
  struct stat st;
  if (path != nullptr && lstat(path, &st) == 0) return NS_E_FILE_EXISTS;  // never replaced
  return m_pWriter->SetOutputFilename(path);
}

HRESULT CQmvedit::CopyProfile() {
  if (m_copying) return E_UNEXPECTED;
  if (m_pReader == nullptr || !m_bSrcOpen || m_pWriter == nullptr) {
    DbgLog(0, 4, "Failed to QI Profile\n");
    return -1;
  }
  if (FAILED(m_pWriter->SetProfile(*m_pReader))) {
    DbgLog(0, 4, "Failed to Set Profile\n");
    return -1;
  }
  uint32_t inputs = 0;
  HRESULT hr = m_pWriter->GetInputCount(&inputs);
  for (uint32_t i = 0; i < inputs; ++i) hr = m_pWriter->SetInputProps(i, nullptr);
  CopyHeadInfo();
  return hr;
}

HRESULT CQmvedit::CopyHeadInfo() {
  if (m_pReader == nullptr || !m_bSrcOpen || m_pWriter == nullptr) return E_UNEXPECTED;
  // The codec list of the source: one entry per audio or video stream.
  HRESULT hr = S_OK;
  for (const wm::StreamInfo& s : m_pReader->Streams()) {
    if (s.kind == wm::Kind::Other || s.codec == nullptr) continue;
    wm::CodecInfo info;
    for (char c : s.subtype) info.name.push_back(static_cast<char16_t>(c));
    const char* longName = avcodec_descriptor_get(s.codec->codec_id)
                               ? avcodec_descriptor_get(s.codec->codec_id)->long_name
                               : nullptr;
    for (const char* p = longName; p != nullptr && *p; ++p)
      info.description.push_back(static_cast<char16_t>(*p));
    info.type = s.kind == wm::Kind::Video ? 1 : 2;
    const uint32_t tag = s.codec->codec_tag;
    const int tagBytes = s.kind == wm::Kind::Video ? 4 : 2;
    for (int b = 0; b < tagBytes; ++b) info.info.push_back(static_cast<uint8_t>(tag >> (8 * b)));
    hr = m_pWriter->AddCodecInfo(info);
  }
  return hr;
}

uint16_t CQmvedit::FindStreamNum(int kind) {
  if (!m_bSrcOpen || m_pReader == nullptr) return wm::kNoStream;
  const wm::Kind wanted = KindFromArg(kind);
  if (wanted == wm::Kind::Other) return wm::kNoStream;
  for (const wm::StreamInfo& s : m_pReader->Streams())
    if (s.kind == wanted) return s.number;
  return wm::kNoStream;
}

HRESULT CQmvedit::SetStream(int reset) {
  if (m_copying) return E_UNEXPECTED;
  const uint16_t audio = FindStreamNum(0);
  const uint16_t video = FindStreamNum(1);
  if (reset != 0) {
    m_cnsWritten = 0;
    m_posted = false;
  }
  if (m_pReader == nullptr || !m_bSrcOpen) return E_UNEXPECTED;
  // Every audio and video stream is copied compressed: a second audio track delivered decoded
  // would corrupt the stream the writer declared compressed.
  HRESULT hr = S_OK;
  for (const wm::StreamInfo& s : m_pReader->Streams()) {
    const bool copied = s.kind != wm::Kind::Other;
    HRESULT r = m_pReader->SetReadStreamSamples(s.number, copied);
    if (SUCCEEDED(r)) r = m_pReader->SetStreamSelected(s.number, copied);
    if (copied && FAILED(r)) hr = r;
  }
  if (audio == wm::kNoStream && video == wm::kNoStream) return NS_E_INVALID_STREAM;
  return hr;
}

HRESULT CQmvedit::BeginWrite() {
  if (m_copying) return E_UNEXPECTED;
  if (m_pWriter == nullptr) return E_UNEXPECTED;
  m_copyResult = S_OK;
  return m_pWriter->BeginWriting();
}

HRESULT CQmvedit::EndWrite() {
  if (m_copying) return E_UNEXPECTED;
  if (m_pWriter == nullptr) return E_UNEXPECTED;
  if (FAILED(m_copyResult)) {
    // A range that could not be read leaves the clip unfinished: it never takes its name.
    const HRESULT why = m_copyResult;
    m_copyResult = S_OK;
    m_pWriter->Abort();
    return why;
  }
  HRESULT hr = m_pWriter->EndWriting();
  HRESULT flushed = m_pWriter->Flush();
  return FAILED(hr) ? hr : flushed;
}

void CQmvedit::SetDur(int32_t /*totalMs*/) {}

void CQmvedit::AllowMsg() {
  if (m_hNotifyWnd == nullptr) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - m_lastDispatch < kDispatchInterval) return;
  m_lastDispatch = now;
  m_hNotifyWnd->DispatchOnePending();
}

HRESULT CQmvedit::CopyPart(int32_t outStartMs, int32_t srcStartMs, int32_t* pLenMs,
                           int keepSrcTime) {
  if (pLenMs == nullptr || outStartMs < 0) return E_INVALIDARG;
  if (m_copying || m_pReader == nullptr || m_pWriterAdvanced == nullptr) return E_UNEXPECTED;
  // A preview between two ranges leaves the video decoded: the copy takes samples as stored.
  for (const wm::StreamInfo& s : m_pReader->Streams())
    if (s.kind != wm::Kind::Other) m_pReader->SetReadStreamSamples(s.number, true);
  const int64_t outOffset = static_cast<int64_t>(outStartMs) * kCnsPerMs;
  const int64_t srcStart = static_cast<int64_t>(srcStartMs) * kCnsPerMs;
  const int64_t rangeDuration = static_cast<int64_t>(*pLenMs) * kCnsPerMs;

  HRESULT hr = m_pReader->SetRange(srcStart, rangeDuration);
  if (hr != S_OK) {
    hr = FAILED(hr) ? hr : E_FAIL;
    if (m_pWriterAdvanced->IsWriting()) m_copyResult = hr;
    return hr;
  }
  if (!m_pWriterAdvanced->IsWriting()) return E_UNEXPECTED;

  // Ranges are rebased on their first sample in time: the key frame that opens them.
  const int64_t origin = m_pReader->RangeOrigin();
  const uint64_t before = m_cnsWritten;
  int64_t covered = 0;  // latest end of a written sample, from the output start
  HRESULT result = S_OK;
  wm::Sample sample;
  m_copying = true;
  for (;;) {
    AllowMsg();
    if (m_exitPending) {
      result = E_ABORT;
      break;
    }
    hr = m_pReader->GetNextSample(0, &sample);
    if (hr != S_OK) {
      if (SUCCEEDED(hr)) continue;
      // The end of the range; anything else is a read error inside the source, and a copy that
      // silently came out short would pass for a whole one.
      if (hr != NS_E_NO_MORE_SAMPLES) result = hr;
      break;
    }
    const int64_t outTime = wm::SaturatingAdd(
        keepSrcTime != 0 ? sample.time : wm::SaturatingSub(sample.time, origin), outOffset);
    HRESULT wr = m_pWriterAdvanced->WriteStreamSample(sample.streamNumber, outTime, 0,
                                                      sample.duration, sample.flags, sample);
    if (FAILED(wr)) {
      result = wr;
      break;
    }
    covered = std::max(covered,
                       wm::SaturatingSub(wm::SaturatingAdd(outTime, sample.duration), outOffset));
    m_cnsWritten = before + static_cast<uint64_t>(covered);
    PostProgress(false);
  }
  m_copying = false;
  if (FAILED(result) && result != E_ABORT) m_copyResult = result;
  PostProgress(true);
  *pLenMs = static_cast<int32_t>(std::min<int64_t>(covered / kCnsPerMs, INT32_MAX));
  if (m_exitPending) {
    m_exitPending = false;
    Exit();
  }
  return result;
}

void CQmvedit::PostProgress(bool final) {
  if (m_hNotifyWnd == nullptr) return;
  const uint32_t ms = static_cast<uint32_t>(m_cnsWritten / kCnsPerMs);
  if (m_posted && ms == m_lastPostedMs) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_posted && !final && now - m_lastPost < kProgressInterval) return;
  m_hNotifyWnd->PostMsg(WM_EDIT_PROGRESS, 1, static_cast<intptr_t>(ms));
  m_lastPostedMs = ms;
  m_lastPost = now;
  m_posted = true;
}

HRESULT CQmvedit::GetWriteResult() const {
  return m_pWriter == nullptr ? E_UNEXPECTED : m_pWriter->WriteResult();
}
