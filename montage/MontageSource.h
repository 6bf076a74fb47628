// The source clip of the montage pane: the clip-file test, its length through the clip
// information library, the length text, opening it in the montage engine and drawing its frame at
// a position. A clip that cannot be read is refused and the engine keeps the previous source.
#pragma once

#include <cstdint>
#include <string>

class CQmvedit;

inline constexpr const char kMsgCannotOpenClip[] = "Cannot open the clip.";

struct SourceOpenResult {
  enum class Status {
    Ignored,  // not a clip path: nothing happened, nothing to show
    Opened,   // the engine has the new clip
    Failed,   // unreadable clip: the previous source stays, message for the message line
  };
  Status status = Status::Ignored;
  uint32_t lengthMs = 0;
  double frameRate = 0;    // of the pictures, 0 when unknown (Opened only)
  std::string lengthText;  // for static 1028 (Opened only)
  std::string message;     // for the message line (Failed only)
};

class CMontageSource {
 public:
  // Open (command 1027) with the text of edit 1025. When it returns Opened the window sets the
  // timeline's range to 0 .. lengthMs, shows lengthText in 1028, clears the sections and the
  // list's rows, and calls ShowFrameAt(engine, 0). Failed changes nothing but the message line.
  SourceOpenResult Open(CQmvedit& engine, const std::string& path);

  // "%02d:%02d:%02d(%d mili-Sec)": hours, minutes, seconds and the length in ms.
  static std::string LengthText(uint32_t lengthMs);
  // Draws the source's frame at pos into the engine's display window (nothing without a source).
  static void ShowFrameAt(CQmvedit& engine, int32_t pos);

  // The clip the engine has open ("" before the first Open) and its length.
  const std::string& Path() const { return m_path; }
  uint32_t Length() const { return m_nLength; }

 private:
  std::string m_path;
  uint32_t m_nLength = 0;
};
