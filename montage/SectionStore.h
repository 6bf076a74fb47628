// Marks and sections that outlive the program: one small text file per clip in the user's state
// folder ($XDG_STATE_HOME/vantrel/, ~/.local/state/vantrel/ without it), written whole on every
// change through a temporary file and a rename, so a crash leaves the old file or the new one.
// A file belongs to a clip by its absolute path, size and modification time: a clip changed
// since gets nothing back. A damaged or foreign file is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "MarksState.h"

// What identifies one version of a clip file.
struct ClipKey {
  std::string path;  // absolute
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const ClipKey&) const = default;
};

struct StoreLoad {
  std::optional<MarksState> state;  // none: nothing kept, the clip changed, or a bad file
  std::string problem;              // why a file there was not taken ("" when none was there)
};

class CSectionStore {
 public:
  // The folder from the environment; "" when neither XDG_STATE_HOME (absolute) nor HOME is set.
  CSectionStore();
  explicit CSectionStore(std::string folder) : m_folder(std::move(folder)) {}
  static std::string DefaultFolder();
  const std::string& Folder() const { return m_folder; }

  // The key of a clip file as it is now; none when it cannot be read.
  static std::optional<ClipKey> KeyOf(const std::string& clipPath);
  // The file that holds a clip's marks (by its absolute path).
  std::string FileFor(const std::string& absolutePath) const;

  // Keeps the state for the clip; an empty state removes what was kept. False (with a line in
  // the debug log) when it could not be written.
  bool Save(const std::string& clipPath, const MarksState& state) const;
  // What was kept for the clip, checked against its key and its length in ms. Problems go to the
  // debug log as well.
  StoreLoad Load(const std::string& clipPath, int32_t lengthMs) const;

  // The file's text, and reading it back (none with a reason for anything malformed).
  static std::string Format(const ClipKey& key, const MarksState& state);
  static std::optional<MarksState> Parse(const std::string& text, ClipKey* key,
                                         std::string* problem);

 private:
  std::string m_folder;
};
