#include "KeyFrameLister.h"

#include <system_error>

#include "KeyFrames.h"

namespace {
// Units of work between two looks at the cancel flag: a few ms of reading at most.
constexpr int kStepBudget = 64;
}  // namespace

KeyFrameLister::~KeyFrameLister() {
  Cancel();
}

uint32_t KeyFrameLister::Start(const std::string& path, Ready ready) {
  Cancel();
  uint32_t generation;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    generation = ++m_generation;
    m_result.reset();
  }
  m_cancel = false;
  try {
    m_thread = std::thread(&KeyFrameLister::Run, this, path, generation, std::move(ready));
  } catch (const std::system_error&) {
    // No thread to be had: the clip's key frames stay unknown, which only costs the ticks.
  }
  return generation;
}

void KeyFrameLister::Cancel() {
  m_cancel = true;
  if (m_thread.joinable()) m_thread.join();
}

std::optional<std::vector<int32_t>> KeyFrameLister::Take(uint32_t generation) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (generation != m_generation || !m_result) return std::nullopt;
  return m_result;
}

void KeyFrameLister::Run(std::string path, uint32_t generation, Ready ready) {
  qmvedit::KeyFrameScan scan;
  std::vector<int32_t> times;
  if (SUCCEEDED(scan.Open(path.c_str()))) {
    while (!m_cancel && !scan.Step(kStepBudget)) {
    }
    if (m_cancel) return;
    times = scan.Times();
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (generation != m_generation) return;
    m_result = std::move(times);
  }
  if (ready && !m_cancel) ready(generation);
}
