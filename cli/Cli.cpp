#include "Cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

#include "CQmvedit.h"
#include "ClipFile.h"
#include "ClipInfo.h"
#include "ClipList.h"
#include "HostWindow.h"
#include "MergeJob.h"
#include "Messages.h"
#include "MontageJob.h"
#include "MontageSource.h"
#include "SectionCsv.h"
#include "SectionList.h"
#include "StreamLayout.h"
#include "TextFile.h"

namespace cli {
namespace {

constexpr const char kProgram[] = "vantrel-cli";
constexpr const char kNotAClip[] = "not a .wmv or .qmv clip.";

bool AllDigits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// A run of digits as a number; none beyond 32 bits.
std::optional<int64_t> Digits(const std::string& s) {
  if (!AllDigits(s) || s.size() > 10) return std::nullopt;
  const int64_t v = std::stoll(s);
  if (v > INT32_MAX) return std::nullopt;
  return v;
}

}  // namespace

std::optional<int32_t> ParseTime(const std::string& text) {
  if (text.find_first_of(":.") == std::string::npos) {
    const auto ms = Digits(text);
    if (!ms) return std::nullopt;
    return static_cast<int32_t>(*ms);
  }
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (fields.size() > 3) return std::nullopt;
  std::string& last = fields.back();
  int64_t fraction = 0;
  if (const size_t dot = last.find('.'); dot != std::string::npos) {
    std::string digits = last.substr(dot + 1);
    if (!AllDigits(digits) || digits.size() > 3) return std::nullopt;
    digits.resize(3, '0');
    fraction = std::stoll(digits);
    last.resize(dot);
  }
  std::vector<int64_t> values;
  for (const std::string& f : fields) {
    const auto v = Digits(f);
    if (!v) return std::nullopt;
    values.push_back(*v);
  }
  // Seconds, and minutes under hours, stay below 60 once a larger field stands before them.
  const size_t n = values.size();
  if (n >= 2 && values[n - 1] >= 60) return std::nullopt;
  if (n == 3 && values[1] >= 60) return std::nullopt;
  int64_t seconds = 0;
  for (int64_t v : values) seconds = seconds * 60 + v;
  const int64_t ms = seconds * 1000 + fraction;
  if (ms > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(ms);
}

std::optional<SectionArg> ParseSection(const std::string& text) {
  std::string span = text;
  SectionArg s;
  if (const size_t at = span.rfind('@'); at != std::string::npos) {
    const auto seq = Digits(span.substr(at + 1));
    if (!seq || *seq < 1) return std::nullopt;
    s.seq = static_cast<int32_t>(*seq);
    span.resize(at);
  }
  const size_t dash = span.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const auto from = ParseTime(span.substr(0, dash));
  const auto to = ParseTime(span.substr(dash + 1));
  if (!from || !to || *from >= *to) return std::nullopt;
  s.from = *from;
  s.to = *to;
  return s;
}

std::vector<PERIOD> NumberSections(const std::vector<SectionArg>& args) {
  std::vector<PERIOD> sections;
  for (const SectionArg& a : args) sections.push_back(PERIOD{a.from, a.to - a.from, a.seq});
  NumberUnnamed(&sections);
  return sections;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof(esc), "\\u%04x", c);
          out += esc;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string ProgressLine(int64_t pos, int64_t range, const std::string& percent, int width) {
  const int64_t filled = range <= 0 ? 0 : std::clamp<int64_t>(pos, 0, range) * width / range;
  std::string line = "[";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(width - filled), '-');
  return line + "] " + percent;
}

namespace {

// Usage lines and help texts.
constexpr const char kUsageInfo[] = "Usage: vantrel-cli info [--json] CLIP...";
constexpr const char kUsageMontage[] =
    "Usage: vantrel-cli montage SRC (--section FROM-TO[@SEQ]... | --sections FILE.csv) [-o OUT] "
    "[-q]";
constexpr const char kUsageMerge[] = "Usage: vantrel-cli merge CLIP... [-o OUT] [-q]";

constexpr const char kHelpMain[] =
    "Usage: vantrel-cli COMMAND [OPTION]... ARGUMENT...\n"
    "Cuts and joins Windows Media clips (.wmv, .qmv) without re-encoding.\n"
    "\n"
    "Commands:\n"
    "  info      bit rate, resolution and frame rate, duration, file time and path of clips\n"
    "  montage   writes sections of a clip, in the order of their numbers, into a new clip\n"
    "  merge     joins clips of the same bit rate, resolution and frame rate into a new clip\n"
    "\n"
    "'vantrel-cli COMMAND --help' describes a command. Exit status: 0 done, 1 refused or\n"
    "failed, 2 bad arguments.\n";

constexpr const char kHelpInfo[] =
    "Usage: vantrel-cli info [--json] CLIP...\n"
    "Prints one line per clip, as the Clip Merge list shows it, the fields separated by tabs:\n"
    "video bit rate, WIDTHXHEIGHT@FPS, duration (hh:mm:ss), file time, path.\n"
    "\n"
    "  --json      one JSON object per line and clip, with the plain numbers: path, bitRate,\n"
    "              width, height, frameRate, durationMs, fileTime, modified (seconds since\n"
    "              1970); a clip that cannot be read gives path and error\n"
    "  -h, --help  this text\n"
    "\n"
    "Exit status 1 when a clip cannot be read (the others are still listed).\n";

constexpr const char kHelpMontage[] =
    "Usage: vantrel-cli montage SRC (--section FROM-TO[@SEQ]... | --sections FILE.csv)\n"
    "                           [-o OUT] [-q]\n"
    "Writes the sections of SRC, in the order of their sequence numbers, one after another\n"
    "into a new clip, as Video Montage does. Nothing is re-encoded: each section starts at the\n"
    "key frame at or before FROM.\n"
    "\n"
    "  -s, --section FROM-TO[@SEQ]\n"
    "              a section from FROM to TO; times in milliseconds (61500) or h:mm:ss.mmm\n"
    "              (0:01:01.500, also 1:01.5 or 61.5). SEQ is its place in the new clip; a\n"
    "              section without one takes the smallest number no section names.\n"
    "              Sections may overlap: each is copied on its own\n"
    "      --sections FILE.csv\n"
    "              the sections from a CSV file, as Video Montage's section list exports it\n"
    "              and lossless cutters such as LosslessCut write it: one section a row, start\n"
    "              and end in seconds (12.480), then the number; a row whose third column is\n"
    "              no number (a label) takes the smallest number no row names. A file with a\n"
    "              bad row is refused\n"
    "  -o, --output OUT\n"
    "              the new clip's name (.wmv or .qmv); it must not exist. Without it the clip\n"
    "              is SRC's name without extension + \"MoN\" + year_month_day_hour_minute_second\n"
    "              + SRC's extension, beside SRC\n"
    "  -q, --quiet  no progress and no messages but errors\n"
    "  -h, --help  this text\n"
    "\n"
    "Prints the new clip's path on standard output; messages and the progress bar (on a\n"
    "terminal only) go to standard error.\n";

constexpr const char kHelpMerge[] =
    "Usage: vantrel-cli merge CLIP... [-o OUT] [-q]\n"
    "Joins the clips, in the order given, into one new clip, as Clip Merge does. The clips must\n"
    "agree in video bit rate, resolution and frame rate (two decimals) and in their streams.\n"
    "\n"
    "  -o, --output OUT\n"
    "              the new clip's name (.wmv or .qmv); it must not exist. Without it the clip\n"
    "              is the first clip's name without extension + \"Merged\" +\n"
    "              year_month_day_hour_minute_second + its extension, beside the first clip\n"
    "  -q, --quiet  no progress and no messages but errors\n"
    "  -h, --help  this text\n"
    "\n"
    "Prints the new clip's path on standard output; messages and the progress bar (on a\n"
    "terminal only) go to standard error.\n";

// The parsed command line of one verb.
struct Args {
  std::vector<std::string> positional;
  std::vector<std::string> sections;
  std::string sectionsFile;
  std::string output;
  bool json = false;
  bool quiet = false;
  bool help = false;
  std::string error;  // set when the arguments are bad
};

// Options a verb takes: "json", "section", "output", "quiet".
Args ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& allowed) {
  Args a;
  bool options = true;
  for (size_t i = 1; i < args.size() && a.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (!options || arg.size() < 2 || arg[0] != '-') {
      a.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options = false;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    auto takeValue = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (i + 1 < args.size()) return args[++i];
      a.error = "option " + name + " needs a value";
      return std::nullopt;
    };
    if (name == "-h" || name == "--help") {
      a.help = true;
    } else if (name == "--json" && allowed.count("json")) {
      a.json = true;
    } else if ((name == "-q" || name == "--quiet") && allowed.count("quiet")) {
      a.quiet = true;
    } else if ((name == "-s" || name == "--section") && allowed.count("section")) {
      if (auto v = takeValue()) a.sections.push_back(*v);
    } else if (name == "--sections" && allowed.count("sections")) {
      if (auto v = takeValue()) {
        if (!a.sectionsFile.empty()) a.error = "only one --sections may be given";
        a.sectionsFile = *v;
      }
    } else if ((name == "-o" || name == "--output") && allowed.count("output")) {
      if (auto v = takeValue()) {
        if (!a.output.empty()) a.error = "only one " + name + " may be given";
        a.output = *v;
      }
    } else {
      a.error = "unknown option " + name;
    }
    if (value && a.error.empty() && name != "--section" && name != "--sections" &&
        name != "--output")
      a.error = "option " + name + " takes no value";
  }
  return a;
}

int Usage(const CliIo& io, const char* usage, const std::string& verb, const std::string& why) {
  std::fprintf(io.err, "%s: %s\n%s\n", kProgram, why.c_str(), usage);
  if (!verb.empty())
    std::fprintf(io.err, "Try '%s %s --help'.\n", kProgram, verb.c_str());
  else
    std::fprintf(io.err, "Try '%s --help'.\n", kProgram);
  return kExitUsage;
}

// The engine's window here: progress posts go straight to the job's handler.
class CliWindow : public CMsgWindow {
 public:
  std::function<void(intptr_t)> onProgress;
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    if (msg == WM_EDIT_PROGRESS && wParam == 1 && onProgress) onProgress(lParam);
  }
  void DispatchOnePending() override {}
};

// One edit session with that window, ended on every way out of a command.
struct EditSession {
  CQmvedit engine;
  CliWindow window;
  EditSession() {
    engine.Init();
    engine.SetNotifyWnd(&window);
  }
  ~EditSession() { engine.Exit(); }
  EditSession(const EditSession&) = delete;
  EditSession& operator=(const EditSession&) = delete;
};

// Messages and the progress bar on standard error.
class Reporter {
 public:
  Reporter(const CliIo& io, bool quiet) : io_(io), quiet_(quiet) {}
  ~Reporter() { EndBar(); }
  void SetRange(int64_t range) { range_ = range; }
  void Bar(int64_t pos, const std::string& percent) {
    if (quiet_ || !io_.progressBar) return;
    const std::string line = ProgressLine(pos, range_, percent);
    if (drawn_ && line == last_) return;
    std::fprintf(io_.err, "\r%s", line.c_str());
    std::fflush(io_.err);
    last_ = line;
    drawn_ = true;
  }
  void Message(const std::string& text) {
    if (quiet_ || text.empty()) return;
    EndBar();
    std::fprintf(io_.err, "%s\n", text.c_str());
  }
  void Error(const std::string& text) {
    EndBar();
    std::fprintf(io_.err, "%s\n", text.c_str());
  }

 private:
  void EndBar() {
    if (!drawn_) return;
    std::fputc('\n', io_.err);
    drawn_ = false;
  }
  const CliIo& io_;
  bool quiet_;
  int64_t range_ = 0;
  bool drawn_ = false;
  std::string last_;
};

// Why a path cannot be taken as a clip before anything reads it; none when it may be.
std::optional<std::string> PathProblem(const std::string& path) {
  if (!IsClipFile(path)) return std::string(kNotAClip);
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0)
    return std::string(kMsgCannotOpenClip);
  return std::nullopt;
}

// A clip whose figures all read as nothing may be no clip at all: the reader decides.
bool Unreadable(uint32_t bitRate, int32_t width, uint32_t durationMs, const std::string& path) {
  if (bitRate != 0 || width != 0 || durationMs != 0) return false;
  return !ReadStreamLayout(path).has_value();
}

std::time_t Now(const CliIo& io) {
  return io.clock ? io.clock() : std::time(nullptr);
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::string Number(double v) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof(text), v);
  return std::string(text, r.ptr);
}

int Info(const std::vector<std::string>& argv, const CliIo& io) {
  const Args a = ParseArgs(argv, {"json"});
  if (a.help) {
    std::fputs(kHelpInfo, io.out);
    return kExitOk;
  }
  if (!a.error.empty()) return Usage(io, kUsageInfo, "info", a.error);
  if (a.positional.empty()) return Usage(io, kUsageInfo, "info", "no clip given");
  int status = kExitOk;
  auto refuse = [&](const std::string& path, const std::string& why) {
    std::fprintf(io.err, "%s: %s\n", path.c_str(), why.c_str());
    if (a.json)
      std::fprintf(io.out, "{\"path\":%s,\"error\":%s}\n", JsonString(path).c_str(),
                   JsonString(why).c_str());
    status = kExitRefused;
  };
  ClipList list;
  for (const std::string& path : a.positional) {
    if (auto problem = PathProblem(path)) {
      refuse(path, *problem);
      continue;
    }
    if (a.json) {
      const ClipInfo info = QueryClipInfo(path);
      if (Unreadable(info.bitRate, info.width, info.durationMs, path)) {
        refuse(path, kMsgCannotOpenClip);
        continue;
      }
      struct stat st {};
      stat(path.c_str(), &st);
      std::fprintf(io.out,
                   "{\"path\":%s,\"bitRate\":%u,\"width\":%d,\"height\":%d,\"frameRate\":%s,"
                   "\"durationMs\":%u,\"fileTime\":%s,\"modified\":%lld}\n",
                   JsonString(path).c_str(), info.bitRate, info.width, info.height,
                   Number(info.frameRate).c_str(), info.durationMs,
                   JsonString(ClipList::FileTimeText(path)).c_str(),
                   static_cast<long long>(st.st_mtime));
      continue;
    }
    // The row the clip list makes of the clip, its texts as the list shows them.
    list.Add(path);
    const ClipList::Row& row = list.Rows().back();
    if (row.cells[kColBaudrate] == "0bps" && row.cells[kColResolution] == "0X0@0.00" &&
        Unreadable(0, 0, row.durationMs, path)) {
      refuse(path, kMsgCannotOpenClip);
      continue;
    }
    std::fprintf(io.out, "%s\t%s\t%s\t%s\t%s\n", row.cells[kColBaudrate].c_str(),
                 row.cells[kColResolution].c_str(), row.cells[kColDuration].c_str(),
                 row.cells[kColCreateTime].c_str(), row.cells[kColPath].c_str());
  }
  return status;
}

// The name given with -o must be a clip name: the writer always writes a Windows Media clip.
std::optional<std::string> OutputProblem(const std::string& output) {
  if (!output.empty() && !IsClipFile(output))
    return "the new clip's name must end in .wmv or .qmv: " + output;
  return std::nullopt;
}

int Montage(const std::vector<std::string>& argv, const CliIo& io) {
  const Args a = ParseArgs(argv, {"section", "sections", "output", "quiet"});
  if (a.help) {
    std::fputs(kHelpMontage, io.out);
    return kExitOk;
  }
  if (!a.error.empty()) return Usage(io, kUsageMontage, "montage", a.error);
  if (a.positional.size() != 1)
    return Usage(io, kUsageMontage, "montage",
                 a.positional.empty() ? "no source clip given" : "only one source clip is taken");
  if (a.sections.empty() && a.sectionsFile.empty())
    return Usage(io, kUsageMontage, "montage", "no --section or --sections given");
  if (!a.sections.empty() && !a.sectionsFile.empty())
    return Usage(io, kUsageMontage, "montage", "--section and --sections exclude each other");
  std::vector<SectionArg> parsed;
  for (const std::string& s : a.sections) {
    const auto section = ParseSection(s);
    if (!section)
      return Usage(io, kUsageMontage, "montage",
                   "bad section '" + s + "' (FROM-TO[@SEQ], FROM before TO, SEQ from 1)");
    parsed.push_back(*section);
  }
  if (auto problem = OutputProblem(a.output)) return Usage(io, kUsageMontage, "montage", *problem);

  const std::string& src = a.positional.front();
  Reporter report(io, a.quiet);
  if (auto problem = PathProblem(src)) {
    report.Error(src + ": " + *problem);
    return kExitRefused;
  }
  EditSession session;
  CQmvedit& engine = session.engine;
  CliWindow& window = session.window;

  CMontageSource source;
  const SourceOpenResult opened = source.Open(engine, src);
  if (opened.status != SourceOpenResult::Status::Opened) {
    report.Error(src + ": " + kMsgCannotOpenClip);
    return kExitRefused;
  }
  // The timeline holds no section past the clip's end.
  for (const SectionArg& s : parsed) {
    if (static_cast<uint32_t>(s.to) <= opened.lengthMs) continue;
    report.Error(std::string(kMsgBlockInvalid) + " Section " + std::to_string(s.from) + "-" +
                 std::to_string(s.to) + " ends after the clip's end (" +
                 std::to_string(opened.lengthMs) + " ms).");
    return kExitRefused;
  }

  std::vector<PERIOD> sections = NumberSections(parsed);
  if (!a.sectionsFile.empty()) {
    const auto text = ReadTextFile(a.sectionsFile);
    if (!text) {
      report.Error(a.sectionsFile + ": cannot be read.");
      return kExitRefused;
    }
    const CsvSections csv = SectionsFromCsv(*text, static_cast<int32_t>(opened.lengthMs));
    if (!csv.Ok()) {
      report.Error(a.sectionsFile + ": refused, " + csv.error + ".");
      return kExitRefused;
    }
    sections = csv.sections;
  }

  CMontageJob job;
  window.onProgress = [&](intptr_t written) {
    if (const auto p = job.OnProgress(written))
      if (p->percent) report.Bar(p->barPos, *p->percent);
  };
  int64_t barPos = 0;
  MontageJobView view;
  view.showMessage = [&](const std::string& m) {
    if (m == kMsgMontageRunning) report.Message(m);
  };
  view.setProgressRange = [&](int32_t total) { report.SetRange(total); };
  view.setProgressPos = [&](int32_t pos) { barPos = pos; };
  view.showPercent = [&](const std::string& p) { report.Bar(barPos, p); };
  const MontageResult r = job.Run(engine, &window, src, sections, view, Now(io), a.output);
  if (r.status != MontageResult::Status::Done) {
    report.Error(r.message.empty() ? std::string(kMsgMontageFailed) : r.message);
    return kExitRefused;
  }
  report.Message(r.message);
  std::fprintf(io.out, "%s\n", r.outputPath.c_str());
  return kExitOk;
}

int Merge(const std::vector<std::string>& argv, const CliIo& io) {
  const Args a = ParseArgs(argv, {"output", "quiet"});
  if (a.help) {
    std::fputs(kHelpMerge, io.out);
    return kExitOk;
  }
  if (!a.error.empty()) return Usage(io, kUsageMerge, "merge", a.error);
  if (a.positional.empty()) return Usage(io, kUsageMerge, "merge", "no clip given");
  if (auto problem = OutputProblem(a.output)) return Usage(io, kUsageMerge, "merge", *problem);

  Reporter report(io, a.quiet);
  // The clips as the list takes them, in the order given: Seq# 1, 2, 3, ...
  ClipList list;
  bool bad = false;
  for (const std::string& path : a.positional) {
    std::optional<std::string> problem = PathProblem(path);
    if (!problem) {
      list.Add(path);
      const ClipList::Row& row = list.Rows().back();
      if (row.cells[kColBaudrate] == "0bps" && row.cells[kColResolution] == "0X0@0.00" &&
          Unreadable(0, 0, row.durationMs, path))
        problem = kMsgCannotOpenClip;
    }
    if (problem) {
      report.Error(path + ": " + *problem);
      bad = true;
    }
  }
  if (bad) return kExitRefused;

  EditSession session;
  CQmvedit& engine = session.engine;
  CliWindow& window = session.window;

  MergeJob job(engine, &window);
  MergeJob::Hooks hooks;
  hooks.started = [&](int range, const std::string& percent, const std::string& message) {
    report.Message(message);
    report.SetRange(range);
    report.Bar(0, percent);
  };
  const std::time_t when = Now(io);
  hooks.now = [when] { return LocalTime(when); };
  job.SetHooks(std::move(hooks));
  job.SetOutputName(a.output);
  window.onProgress = [&](intptr_t written) {
    if (const auto p = job.OnProgress(written)) report.Bar(p->barValue, p->percent);
  };
  const MergeResult r = job.Run(list);
  if (!r.ok()) {
    report.Error(r.message.empty() ? std::string(kTextMergeFailed) : r.message);
    return kExitRefused;
  }
  report.Bar(INT64_MAX, r.percent);
  report.Message(r.message);
  std::fprintf(io.out, "%s\n", r.outputPath.c_str());
  return kExitOk;
}

}  // namespace
}  // namespace cli

int RunCli(const std::vector<std::string>& args, const CliIo& io) {
  if (args.empty())
    return cli::Usage(io, "Usage: vantrel-cli info|montage|merge ...", "", "no command given");
  const std::string& verb = args.front();
  if (verb == "-h" || verb == "--help" || verb == "help") {
    std::fputs(cli::kHelpMain, io.out);
    return kExitOk;
  }
  int status;
  if (verb == "info")
    status = cli::Info(args, io);
  else if (verb == "montage")
    status = cli::Montage(args, io);
  else if (verb == "merge")
    status = cli::Merge(args, io);
  else
    return cli::Usage(io, "Usage: vantrel-cli info|montage|merge ...", "",
                      "unknown command '" + verb + "'");
  std::fflush(io.out);
  return status;
}
