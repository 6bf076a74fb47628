// Frame preview: one decoded frame of the source, drawn fitted into the display window.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CQmvedit.h"
#include "DbgLog.h"
#include "EditPreviewState.h"
#include "HeaderSanity.h"
#include "WmReader.h"

namespace qmvedit {

uint8_t* g_pBackBits = nullptr;
BITMAPINFOHEADER* g_pOutputBih = nullptr;

void DeleteMemDC(QmvMemDC* dc) {
  delete dc;
}

void DeleteBitmap(QmvBitmap* bitmap) {
  if (bitmap != nullptr && g_pBackBits == bitmap->bits.data()) g_pBackBits = nullptr;
  delete bitmap;
}

}  // namespace qmvedit

using qmvedit::g_pBackBits;
using qmvedit::g_pOutputBih;

void CQmvedit::SetDispWnd(CDisplayWindow* wnd) {
  m_hDispWnd = wnd;
  m_hDispDC = wnd;
}

HRESULT CQmvedit::GetVideoOut() {
  if (m_copying) return E_UNEXPECTED;
  if (!m_bSrcOpen || m_pReader == nullptr) return 0;
  uint32_t outputs = 0;
  if (m_pReader->GetOutputCount(&outputs) != S_OK) {
    DbgLog(1, 4, "Failed to Get Stream counts\n");
    return -1;
  }
  if (outputs == 0) return E_FAIL;
  for (uint32_t i = 0; i < outputs; ++i) {
    const wm::StreamInfo* s = m_pReader->FindStream(static_cast<uint16_t>(i + 1));
    if (s == nullptr) return E_FAIL;
    if (s->kind != wm::Kind::Video) continue;
    BITMAPINFOHEADER header;
    if (FAILED(m_pReader->GetVideoOutputHeader(s->number, &header))) return E_FAIL;
    m_lVideoWidth = header.biWidth;
    m_lVideoHeight = header.biHeight;
    std::free(g_pOutputBih);
    g_pOutputBih = nullptr;
    CopyBIH(&g_pOutputBih, &header);
    if (g_pOutputBih != nullptr) CreateBackBuffer(g_pOutputBih);
    return 0;
  }
  return E_FAIL;
}

HRESULT CQmvedit::CopyBIH(BITMAPINFOHEADER** out, const BITMAPINFOHEADER* in) {
  if (out == nullptr || in == nullptr) return E_INVALIDARG;
  const size_t size = qmvedit::HeaderCopySize(in);
  void* copy = std::malloc(size);
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, in, size);
  *out = static_cast<BITMAPINFOHEADER*>(copy);
  return 0;
}

HRESULT CQmvedit::CreateBackBuffer(const BITMAPINFOHEADER* header) {
  if (m_hDispDC == nullptr || header == nullptr) return E_FAIL;
  // The new back buffer replaces the old one.
  qmvedit::DeleteMemDC(m_hMemDC);
  m_hMemDC = nullptr;
  qmvedit::DeleteBitmap(m_hBackBitmap);
  m_hBackBitmap = nullptr;

  m_hMemDC = new (std::nothrow) QmvMemDC();
  if (m_hMemDC == nullptr) return E_FAIL;
  const int64_t width = header->biWidth;
  const int64_t height = header->biHeight < 0 ? -int64_t{header->biHeight} : header->biHeight;
  const int bits = header->biBitCount;
  const bool supported = width > 0 && height > 0 && width <= wm::kMaxPictureSide &&
                         height <= wm::kMaxPictureSide &&
                         (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  QmvBitmap* bitmap = supported ? new (std::nothrow) QmvBitmap() : nullptr;
  if (bitmap != nullptr) {
    bitmap->header = *header;
    bitmap->stride = static_cast<int32_t>(((width * bits + 31) / 32) * 4);
    try {
      bitmap->bits.assign(static_cast<size_t>(bitmap->stride) * static_cast<size_t>(height), 0);
    } catch (const std::bad_alloc&) {
      delete bitmap;
      bitmap = nullptr;
    }
  }
  if (bitmap == nullptr) {
    qmvedit::DeleteMemDC(m_hMemDC);
    m_hMemDC = nullptr;
    return E_FAIL;
  }
  m_hBackBitmap = bitmap;
  g_pBackBits = bitmap->bits.data();
  return 0;
}

void CQmvedit::FindPosPic(int32_t positionMs) {
  if (m_copying) return;  // called from a message the copy dispatched: the copy owns the reader
  if (!m_bSrcOpen || m_pReader == nullptr) return;
  const uint16_t video = FindStreamNum(1);
  if (FAILED(m_pReader->SetReadStreamSamples(video, false))) return;
  if (m_pReader->SetRange(static_cast<int64_t>(positionMs) * kCnsPerMs, 10000000) != S_OK) return;
  wm::Sample sample;
  for (;;) {
    HRESULT hr = m_pReader->GetNextSample(video, &sample);
    if (FAILED(hr)) return;  // nothing at this position: the previous picture stays
    if (hr == S_OK) break;
  }
  // Into this session's own back buffer, whatever another session did to the shared pointer.
  if (m_hBackBitmap != nullptr) {
    const size_t n = std::min(sample.Size(), m_hBackBitmap->bits.size());
    std::memcpy(m_hBackBitmap->bits.data(), sample.Data(), n);
  }
  ShowMovPic(const_cast<unsigned char*>(sample.Data()));
}

HRESULT CQmvedit::ShowMovPic(unsigned char* pixels) {
  if (m_hBackBitmap == nullptr || pixels == nullptr || m_lVideoHeight == 0 || m_lVideoWidth == 0 ||
      m_hDispWnd == nullptr)
    return E_FAIL;
  int w = 0, h = 0;
  m_hDispWnd->GetClientSize(&w, &h);
  w = std::abs(w);
  h = std::abs(h);
  if (m_hMemDC != nullptr) m_hMemDC->selected = m_hBackBitmap;
  const qmvedit::FitRect r = qmvedit::FitPicture(m_lVideoWidth, m_lVideoHeight, w, h);

  const QmvBitmap& bmp = *m_hBackBitmap;
  if (bmp.header.biBitCount != 32) return E_FAIL;  // the display takes 32-bit pictures
  // The picture's size is the back buffer's own: the shared header may be another session's.
  const int srcW = bmp.header.biWidth;
  const int srcH = std::abs(bmp.header.biHeight);
  // A positive height means bottom-up rows: the top row is the last one in memory.
  const bool bottomUp = bmp.header.biHeight > 0;
  const uint8_t* top =
      bottomUp ? bmp.bits.data() + static_cast<size_t>(srcH - 1) * bmp.stride : bmp.bits.data();
  const int stride = bottomUp ? -bmp.stride : bmp.stride;
  if (!m_hDispDC->DrawImage(top, srcW, srcH, stride, r.x, r.y, r.width, r.height)) return E_FAIL;
  return S_OK;
}
