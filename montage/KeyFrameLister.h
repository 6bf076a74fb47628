// Lists the source clip's key frames on a thread of its own, so that opening a long clip never
// waits for it. One listing at a time: a new Start cancels and joins the one before, and so does
// the destructor. Every listing has a generation number; the finished list is handed out only
// for the latest one, so a list of an earlier clip that finishes late is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class KeyFrameLister {
 public:
  // Called on the listing thread when a list is complete; it should only post a message.
  using Ready = std::function<void(uint32_t generation)>;

  KeyFrameLister() = default;
  ~KeyFrameLister();
  KeyFrameLister(const KeyFrameLister&) = delete;
  KeyFrameLister& operator=(const KeyFrameLister&) = delete;

  // Starts listing the clip at path; returns the listing's generation. ready is called once when
  // the list is complete (a clip that cannot be read gives an empty list), never after Cancel
  // or the destructor returned.
  uint32_t Start(const std::string& path, Ready ready);
  // Stops and joins the running listing, if any (bounded: the scan looks at the flag after every
  // few packets).
  void Cancel();
  // The list of the given generation once it is complete; nothing for an earlier generation or
  // while it runs.
  std::optional<std::vector<int32_t>> Take(uint32_t generation);

 private:
  void Run(std::string path, uint32_t generation, Ready ready);

  std::thread m_thread;
  std::atomic<bool> m_cancel{false};
  std::mutex m_mutex;
  uint32_t m_generation = 0;                     // of the latest Start
  std::optional<std::vector<int32_t>> m_result;  // of m_generation, once complete
};
