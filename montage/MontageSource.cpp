#include "MontageSource.h"

#include <cstdio>

#include "CQmvedit.h"
#include "ClipFile.h"
#include "DbgLog.h"

std::string CMontageSource::LengthText(uint32_t ms) {
  char text[64];
  std::snprintf(text, sizeof(text), "%02u:%02u:%02u(%d mili-Sec)", ms / 3600000u,
                (ms / 1000u % 3600u) / 60u, ms / 1000u % 60u, static_cast<int>(ms));
  return text;
}

void CMontageSource::ShowFrameAt(CQmvedit& engine, int32_t pos) {
  engine.FindPosPic(pos);
}

SourceOpenResult CMontageSource::Open(CQmvedit& engine, const std::string& path) {
  SourceOpenResult r;
  if (!IsClipFile(path)) return r;
  // A clip whose header declares no length (a broadcast header) is measured to where its last
  // sample ends; one that has no length either way (corrupt, truncated, not ASF) is not taken: a
  // range of 0 ms would leave nothing to mark, and the engine keeps the clip it has.
  const ClipFigures figures = GetClipFigures(path);
  uint32_t length = figures.lengthMs;
  const bool declared = length > 0;
  HRESULT hr = engine.SetSrcFile(path.c_str());
  if (SUCCEEDED(hr) && !declared) length = engine.MeasureSrcLength();
  if (length == 0 || FAILED(hr)) {
    DbgLog(1, -1, "Cannot open %s as a source (length %u, 0x%08X)\n", path.c_str(), length,
           static_cast<unsigned>(hr));
    // Setting a source closes the previous one first: open that one again.
    if (SUCCEEDED(hr) && m_path.empty()) engine.SyncClose();
    if (!m_path.empty() && (SUCCEEDED(hr) || !engine.IsSrcOpen())) {
      if (SUCCEEDED(engine.SetSrcFile(m_path.c_str())))
        engine.GetVideoOut();
      else
        DbgLog(1, -1, "Cannot open %s again\n", m_path.c_str());
    }
    r.status = SourceOpenResult::Status::Failed;
    r.message = kMsgCannotOpenClip;
    return r;
  }
  engine.GetVideoOut();  // frame buffer for the clip's picture size; none for a sound-only clip
  m_path = path;
  m_nLength = length;
  r.status = SourceOpenResult::Status::Opened;
  r.lengthMs = length;
  r.frameRate = figures.frameRate;
  r.lengthText = LengthText(length);
  return r;
}
