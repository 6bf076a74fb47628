// The edit engine: copies time ranges of compressed samples from a source clip into a new clip,
// and draws single decoded frames of the source into a display window. One object is one edit
// session; the caller allocates it with new, calls Init, ..., Exit, then deletes it.
#pragma once

#include <chrono>
#include <cstdint>

#include "HostWindow.h"
#include "WinTypes.h"

#define QMVEDIT_API __attribute__((visibility("default")))

namespace wm {
class Reader;
class Writer;
}  // namespace wm

// Back buffer of the frame preview: pixel memory in the format of a bitmap header.
struct QmvBitmap;
// Memory drawing context that holds the back buffer while it is drawn.
struct QmvMemDC;

class QMVEDIT_API CQmvedit {
 public:
  CQmvedit();
  ~CQmvedit();  // releases what Exit would, for an owner that never called it
  CQmvedit(const CQmvedit&) = delete;
  CQmvedit& operator=(const CQmvedit&) = delete;

  // Session.
  HRESULT Init();
  HRESULT Exit();
  void SetNotifyWnd(CMsgWindow* wnd);
  HRESULT SetSrcFile(const char* path);
  HRESULT SyncClose();
  // The open source's length in ms, read from where its last sample ends (0 when none can be
  // read): for a clip whose header declares no length.
  uint32_t MeasureSrcLength();
  HRESULT SetDesFile(const char* path);
  HRESULT CopyProfile();
  HRESULT CopyHeadInfo();
  uint16_t FindStreamNum(int kind);
  HRESULT SetStream(int reset);
  HRESULT BeginWrite();
  HRESULT EndWrite();
  void SetDur(int32_t totalMs);
  void AllowMsg();

  // Range copy. *pLenMs: in, the range length (0: to the end of the clip); out, the time the
  // call covered in the output. Ends at the first read or write error and returns it; EndWrite
  // then removes the unfinished clip instead of naming it. E_ABORT when Exit
  // was called from a message it dispatched (the session is then released).
  HRESULT CopyPart(int32_t outStartMs, int32_t srcStartMs, int32_t* pLenMs, int keepSrcTime);
  // First write failure since BeginWrite, S_OK while there is none.
  HRESULT GetWriteResult() const;

  // Frame preview.
  void SetDispWnd(CDisplayWindow* wnd);
  HRESULT GetVideoOut();
  HRESULT CopyBIH(BITMAPINFOHEADER** out, const BITMAPINFOHEADER* in);
  HRESULT CreateBackBuffer(const BITMAPINFOHEADER* header);
  void FindPosPic(int32_t positionMs);
  HRESULT ShowMovPic(unsigned char* pixels);

  // Read-only views for the program and for tests.
  bool IsSrcOpen() const { return m_bSrcOpen != 0; }
  uint64_t GetWritten() const { return m_cnsWritten; }
  int32_t GetVideoWidth() const { return m_lVideoWidth; }
  int32_t GetVideoHeight() const { return m_lVideoHeight; }

 private:
  wm::Reader* m_pReader;
  wm::Writer* m_pWriter;
  wm::Writer* m_pWriterAdvanced;  // the writer's sample interface: the same object
  int32_t m_bSrcOpen;
  CMsgWindow* m_hNotifyWnd;
  uint64_t m_cnsWritten;  // output time covered since SetStream(1), 100 ns
  CDisplayWindow* m_hDispDC;
  QmvBitmap* m_hBackBitmap;
  QmvMemDC* m_hMemDC;
  CDisplayWindow* m_hDispWnd;
  int32_t m_lVideoWidth;
  int32_t m_lVideoHeight;

  void PostProgress(bool final);

  std::chrono::steady_clock::time_point m_lastDispatch;
  std::chrono::steady_clock::time_point m_lastPost;
  uint32_t m_lastPostedMs;
  bool m_posted;
  // A copy is running: the messages it dispatches may call back into the session, which then
  // refuses everything but Exit, and Exit waits for the copy to stop.
  bool m_copying;
  bool m_exitPending;
  // First failure of a range copy since BeginWrite: EndWrite then removes the clip.
  HRESULT m_copyResult;
};
