#include "SectionStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <system_error>

#include "DbgLog.h"
#include "TextFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kMagic[] = "vantrel-sections 1";
// Files larger than this are no state of ours.
constexpr size_t kMaxFileSize = 16u << 20;

// The path on one line: backslash and line breaks escaped.
std::string EscapePath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::optional<std::string> UnescapePath(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    if (text[i] == '\\')
      out += '\\';
    else if (text[i] == 'n')
      out += '\n';
    else if (text[i] == 'r')
      out += '\r';
    else
      return std::nullopt;
  }
  return out;
}

// Whole decimal numbers only, in range.
template <typename T>
bool ReadInt(const std::string& word, T* out) {
  if (word.empty() || word.size() > 20) return false;
  size_t i = word[0] == '-' ? 1 : 0;
  if (i == word.size()) return false;
  for (size_t j = i; j < word.size(); ++j)
    if (word[j] < '0' || word[j] > '9') return false;
  errno = 0;
  char* end = nullptr;
  if constexpr (std::is_signed_v<T>) {
    const long long v = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
      return false;
    *out = static_cast<T>(v);
  } else {
    if (i != 0) return false;
    const unsigned long long v = std::strtoull(word.c_str(), &end, 10);
    if (errno != 0 || v > std::numeric_limits<T>::max()) return false;
    *out = static_cast<T>(v);
  }
  return true;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) p = fs::absolute(path, ec).lexically_normal();
  return p.string();
}

}  // namespace

CSectionStore::CSectionStore() : m_folder(DefaultFolder()) {}

std::string CSectionStore::DefaultFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // Relative values are to be ignored.
  if (state != nullptr && state[0] == '/') return (fs::path(state) / "vantrel").string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/')
    return (fs::path(home) / ".local" / "state" / "vantrel").string();
  return {};
}

std::optional<ClipKey> CSectionStore::KeyOf(const std::string& clipPath) {
  struct stat st {};
  if (clipPath.empty() || ::stat(clipPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  ClipKey key;
  key.path = AbsolutePath(clipPath);
  key.size = static_cast<uint64_t>(st.st_size);
  key.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return key;
}

std::string CSectionStore::FileFor(const std::string& absolutePath) const {
  char name[32];
  std::snprintf(name, sizeof(name), "%016llx.sections",
                static_cast<unsigned long long>(Fnv1a(absolutePath)));
  return (fs::path(m_folder) / name).string();
}

std::string CSectionStore::Format(const ClipKey& key, const MarksState& s) {
  std::string out = std::string(kMagic) + "\n";
  out += "path " + EscapePath(key.path) + "\n";
  out += "size " + std::to_string(key.size) + "\n";
  out += "mtime " + std::to_string(key.mtimeNs) + "\n";
  out += "begin " + std::to_string(s.beginSet ? 1 : 0) + " " + std::to_string(s.begin) + "\n";
  out += "split " + std::to_string(s.splitState) + " " + std::to_string(s.split1) + " " +
         std::to_string(s.split2) + "\n";
  for (const PERIOD& p : s.sections)
    out += "section " + std::to_string(p.nFrom) + " " + std::to_string(p.nDur) + " " +
           std::to_string(p.nSeq) + "\n";
  out += "end\n";
  return out;
}

std::optional<MarksState> CSectionStore::Parse(const std::string& text, ClipKey* key,
                                               std::string* problem) {
  const auto fail = [&](const std::string& why) -> std::optional<MarksState> {
    *problem = why;
    return std::nullopt;
  };
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return fail("not a section file");
  MarksState s;
  ClipKey k;
  bool havePath = false, haveSize = false, haveTime = false, ended = false;
  int lineNo = 1;
  while (std::getline(in, line)) {
    ++lineNo;
    if (ended) return fail("text after the end");
    const std::string bad = "bad line " + std::to_string(lineNo);
    if (line.rfind("path ", 0) == 0) {
      const auto path = UnescapePath(line.substr(5));
      if (!path || havePath) return fail(bad);
      k.path = *path;
      havePath = true;
      continue;
    }
    const std::vector<std::string> w = Words(line);
    if (w.empty()) return fail(bad);
    if (w[0] == "size" && w.size() == 2 && ReadInt(w[1], &k.size)) {
      haveSize = true;
    } else if (w[0] == "mtime" && w.size() == 2 && ReadInt(w[1], &k.mtimeNs)) {
      haveTime = true;
    } else if (w[0] == "begin" && w.size() == 3 && (w[1] == "0" || w[1] == "1") &&
               ReadInt(w[2], &s.begin)) {
      s.beginSet = w[1] == "1";
    } else if (w[0] == "split" && w.size() == 4 && ReadInt(w[1], &s.splitState) &&
               s.splitState >= 0 && s.splitState <= 2 && ReadInt(w[2], &s.split1) &&
               ReadInt(w[3], &s.split2)) {
    } else if (w[0] == "section" && w.size() == 4) {
      PERIOD p;
      if (!ReadInt(w[1], &p.nFrom) || !ReadInt(w[2], &p.nDur) || !ReadInt(w[3], &p.nSeq))
        return fail(bad);
      s.sections.push_back(p);
    } else if (w[0] == "end" && w.size() == 1) {
      ended = true;
    } else {
      return fail(bad);
    }
  }
  if (!havePath || !haveSize || !haveTime) return fail("the clip's path, size or time is missing");
  if (!ended) return fail("the file is cut short");
  *key = k;
  return s;
}

bool CSectionStore::Save(const std::string& clipPath, const MarksState& state) const {
  if (m_folder.empty()) return false;
  const auto key = KeyOf(clipPath);
  if (!key) {
    DbgLog(0, -1, "Sections not kept: cannot read %s\n", clipPath.c_str());
    return false;
  }
  const std::string file = FileFor(key->path);
  std::error_code ec;
  if (state.Empty()) {
    fs::remove(file, ec);
    return !ec;
  }
  fs::create_directories(m_folder, ec);
  // Written on every change from the window's thread: no wait for the disk. A file damaged by a
  // power loss is ignored when it is read.
  const std::string error = WriteTextFileAtomic(file, Format(*key, state), false);
  if (error.empty()) return true;
  DbgLog(0, -1, "Sections not kept: cannot write %s (%s)\n", file.c_str(), error.c_str());
  return false;
}

StoreLoad CSectionStore::Load(const std::string& clipPath, int32_t lengthMs) const {
  StoreLoad r;
  const auto key = KeyOf(clipPath);
  if (m_folder.empty() || !key) return r;
  const std::string file = FileFor(key->path);
  std::error_code ec;
  if (!fs::exists(file, ec)) return r;  // nothing kept
  const auto refuse = [&](const std::string& why) {
    r.problem = why;
    DbgLog(0, -1, "Kept sections ignored: %s: %s\n", file.c_str(), why.c_str());
    return r;
  };
  const auto text = ReadTextFile(file, kMaxFileSize);
  if (!text) return refuse("cannot be read, or too large");
  ClipKey kept;
  std::string problem;
  auto state = Parse(*text, &kept, &problem);
  if (!state) return refuse(problem);
  if (kept.path != key->path) return refuse("kept for another clip");
  if (kept.size != key->size || kept.mtimeNs != key->mtimeNs)
    return refuse("the clip changed since");
  if (const std::string why = FitProblem(*state, lengthMs); !why.empty()) return refuse(why);
  r.state = std::move(state);
  return r;
}
