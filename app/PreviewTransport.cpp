#include "PreviewTransport.h"

#include <QString>

#include "CQmvply.h"
#include "PaneHost.h"

namespace {

constexpr uint64_t kMs = 10000;  // 100-ns units

}  // namespace

void PreviewTransport::SetClip(const std::string& path) {
  if (path == m_path) return;
  Release();
  m_path = path;
}

void PreviewTransport::Release() {
  if (m_held && m_dlg.PreviewPlayer()) m_dlg.PreviewPlayer()->Stop();
  m_held = false;
}

CQmvply* PreviewTransport::Take() {
  CQmvply* player = m_dlg.PreviewPlayer();
  if (player == nullptr || m_path.empty()) return nullptr;
  if (m_held && player->IsOpen()) return player;
  const std::wstring wide = QString::fromStdString(m_path).toStdWString();
  m_held = SUCCEEDED(player->OpenAsync(wide.c_str()));
  return m_held ? player : nullptr;
}

bool PreviewTransport::Play(int32_t fromMs) {
  CQmvply* player = Take();
  return player != nullptr && SUCCEEDED(player->Start(static_cast<uint64_t>(fromMs) * kMs));
}

bool PreviewTransport::PlayRanges(const std::vector<PlayRange>& ranges) {
  CQmvply* player = Take();
  if (player == nullptr) return false;
  std::vector<QmvplyRange> spans;
  spans.reserve(ranges.size());
  for (const PlayRange& r : ranges)
    spans.push_back(
        QmvplyRange{static_cast<uint64_t>(r.from) * kMs, static_cast<uint64_t>(r.to) * kMs});
  return SUCCEEDED(player->StartRanges(spans.data(), spans.size()));
}

int32_t PreviewTransport::Pause() {
  CQmvply* player = m_dlg.PreviewPlayer();
  if (!m_held || player == nullptr) return 0;
  player->Pause();
  return player->GetShownPosition();
}

void PreviewTransport::Stop() {
  Release();
}

int32_t PreviewTransport::Position() const {
  CQmvply* player = m_dlg.PreviewPlayer();
  return m_held && player != nullptr ? player->GetPosition() : 0;
}

int PreviewTransport::RangeIndex() const {
  CQmvply* player = m_dlg.PreviewPlayer();
  return m_held && player != nullptr ? player->GetRangeIndex() : -1;
}
