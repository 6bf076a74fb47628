// The command line against the panes' own jobs: the same clips byte for byte under the same
// names, the panes' texts for refused input, usage and status 2 for bad arguments, and the real
// executable's exit status and progress bar on a terminal and on a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "CQmvedit.h"
#include "Cli.h"
#include "ClipList.h"
#include "MediaProbe.h"
#include "MergeJob.h"
#include "Messages.h"
#include "MontageJob.h"
#include "MontageSource.h"
#include "OutputName.h"
#include "SectionList.h"
#include "TestDir.h"

namespace {

namespace fs = std::filesystem;
using testutil::MakeClip;
using testutil::TempDir;

// 9:03:07 on 5 July 2004, local time.
std::time_t JobTime() {
  std::tm t{};
  t.tm_year = 104;
  t.tm_mon = 6;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 3;
  t.tm_sec = 7;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::tm JobTm() {
  const std::time_t t = JobTime();
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// One command in this process, with the job clock fixed.
Outcome Cli(std::vector<std::string> args, bool terminal = false) {
  char* outBuf = nullptr;
  char* errBuf = nullptr;
  size_t outLen = 0, errLen = 0;
  FILE* out = open_memstream(&outBuf, &outLen);
  FILE* err = open_memstream(&errBuf, &errLen);
  CliIo io;
  io.out = out;
  io.err = err;
  io.progressBar = terminal;
  io.clock = JobTime;
  Outcome r;
  r.status = RunCli(args, io);
  std::fclose(out);
  std::fclose(err);
  r.out.assign(outBuf, outLen);
  r.err.assign(errBuf, errLen);
  std::free(outBuf);
  std::free(errBuf);
  return r;
}

std::string Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

clipgen::ClipSpec Small(int durationMs) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  return s;
}

// A window that drops the engine's posts: the pane's job as the tests run it.
class QuietWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t, uintptr_t, intptr_t) override {}
  void DispatchOnePending() override {}
};

TEST(CliArgs, TimesSectionsAndTheirNumbers) {
  EXPECT_EQ(cli::ParseTime("61500"), 61500);
  EXPECT_EQ(cli::ParseTime("0:01:01.500"), 61500);
  EXPECT_EQ(cli::ParseTime("1:01.5"), 61500);
  EXPECT_EQ(cli::ParseTime("61.5"), 61500);
  EXPECT_EQ(cli::ParseTime("1:02:03.456"), 3723456);
  EXPECT_EQ(cli::ParseTime("100:00:00"), 360000000);
  for (const char* bad : {"", "-1", "1:60", "1:60:00", "1.5000", "1:2:3:4", "a", "1:", ".5",
                          "2147483648", "596:31:23.648"})
    EXPECT_FALSE(cli::ParseTime(bad).has_value()) << bad;

  const auto s = cli::ParseSection("0:00:01-2500@3");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->from, 1000);
  EXPECT_EQ(s->to, 2500);
  EXPECT_EQ(s->seq, 3);
  for (const char* bad : {"1000", "2000-1000", "1000-1000", "1000-2000@0", "1000-2000@", "-2000"})
    EXPECT_FALSE(cli::ParseSection(bad).has_value()) << bad;

  // Unnumbered sections take the smallest numbers the numbered ones leave free.
  const std::vector<PERIOD> p =
      cli::NumberSections({{0, 100, 0}, {200, 300, 1}, {400, 500, 0}, {600, 700, 3}});
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].nSeq, 2);
  EXPECT_EQ(p[1].nSeq, 1);
  EXPECT_EQ(p[2].nSeq, 4);
  EXPECT_EQ(p[3].nSeq, 3);
  EXPECT_EQ(p[3].nDur, 100);

  EXPECT_EQ(cli::JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
}

TEST(CliMontage, WritesWhatThePaneJobWritesUnderTheSameName) {
  TempDir pane, cli;
  const std::string srcPane = MakeClip(pane, "trip.wmv", Small(6000));
  const std::string srcCli = cli.File("trip.wmv");
  fs::copy_file(srcPane, srcCli);

  // The pane: Open, then Montage with the timeline's sections.
  CMontageJob job;
  QuietWindow window;
  CQmvedit engine;
  ASSERT_EQ(engine.Init(), S_OK);
  engine.SetNotifyWnd(&window);
  CMontageSource source;
  ASSERT_EQ(source.Open(engine, srcPane).status, SourceOpenResult::Status::Opened);
  std::vector<PERIOD> sections = {{3000, 1500, 2}, {500, 1000, 1}, {5000, 700, 3}};
  const MontageResult r = job.Run(engine, &window, srcPane, sections, {}, JobTime());
  engine.Exit();
  ASSERT_EQ(r.status, MontageResult::Status::Done) << r.message;

  // The same sections, in another order and in both time forms.
  const std::vector<std::string> args = {
      "montage", srcCli, "--section", "5000-5700", "-s", "0:03-4.5@2", "--section=0.5-1500@1"};
  const Outcome c = Cli(args);
  ASSERT_EQ(c.status, kExitOk) << c.err;
  const std::string want = CMontageJob::OutputName(srcCli, JobTm());
  EXPECT_EQ(c.out, want + "\n");
  EXPECT_EQ(c.err, std::string(kMsgMontageRunning) + "\n" + kMsgMontageDone + "\n");
  const std::string written = Bytes(r.outputPath);
  ASSERT_GT(written.size(), 10000u);
  EXPECT_TRUE(Bytes(want) == written) << "montage output differs from the pane's";

  // The same name taken: numbered as the pane numbers it. -o names the clip itself.
  const Outcome again = Cli(args);
  ASSERT_EQ(again.status, kExitOk) << again.err;
  EXPECT_EQ(again.out, NumberedOutputName(want, 2) + "\n");
  std::vector<std::string> named = args;
  named.insert(named.end(), {"-o", cli.File("named.qmv"), "-q"});
  const Outcome n = Cli(named);
  ASSERT_EQ(n.status, kExitOk) << n.err;
  EXPECT_EQ(n.err, "");
  EXPECT_TRUE(Bytes(cli.File("named.qmv")) == written);

  // A section through the clip's end is refused; the clip ends at its last sample.
  const Outcome past = Cli({"montage", srcCli, "-s", "5000-7000"});
  EXPECT_EQ(past.status, kExitRefused);
  EXPECT_NE(past.err.find(kMsgBlockInvalid), std::string::npos) << past.err;
  const probe::Clip clip = probe::ReadClip(want);
  ASSERT_TRUE(clip.ok);
  EXPECT_EQ(clip.videoStreams, 1);
  EXPECT_EQ(clip.audioStreams, 1);
}

TEST(CliMontage, SectionsFromACsvFileAsFromTheCommandLine) {
  TempDir dir;
  const std::string src = MakeClip(dir, "trip.wmv", Small(6000));
  const Outcome direct = Cli({"montage", src, "-s", "5000-5700@3", "-s", "3000-4500@2", "-s",
                              "500-1500@1", "-o", dir.File("direct.wmv"), "-q"});
  ASSERT_EQ(direct.status, kExitOk) << direct.err;
  // A label in the third column takes the number no row names.
  const std::string csv = dir.File("cuts.csv");
  std::ofstream(csv) << "5.000,5.700,3\n3,4.5,\"Intro, take 2\"\n0.5,1.500,1\n";
  const Outcome c = Cli({"montage", src, "--sections", csv, "-o", dir.File("csv.wmv"), "-q"});
  ASSERT_EQ(c.status, kExitOk) << c.err;
  EXPECT_EQ(c.out, dir.File("csv.wmv") + "\n");
  EXPECT_TRUE(Bytes(dir.File("csv.wmv")) == Bytes(dir.File("direct.wmv")));
}

TEST(CliMerge, WritesWhatThePaneJobWritesUnderTheSameName) {
  TempDir pane, cli;
  std::vector<std::string> panePaths, cliPaths;
  for (const char* name : {"a.wmv", "b.wmv", "c.wmv"}) {
    panePaths.push_back(MakeClip(pane, name, Small(1500)));
    cliPaths.push_back(cli.File(name));
    fs::copy_file(panePaths.back(), cliPaths.back());
  }
  QuietWindow window;
  CQmvedit engine;
  ASSERT_EQ(engine.Init(), S_OK);
  engine.SetNotifyWnd(&window);
  MergeJob job(engine, &window);
  MergeJob::Hooks hooks;
  hooks.now = JobTm;
  job.SetHooks(hooks);
  ClipList list;
  for (const std::string& p : panePaths) ASSERT_TRUE(list.Add(p));
  const MergeResult r = job.Run(list);
  engine.Exit();
  ASSERT_TRUE(r.ok()) << r.message;

  std::vector<std::string> args = {"merge"};
  args.insert(args.end(), cliPaths.begin(), cliPaths.end());
  const Outcome c = Cli(args, /*terminal=*/true);
  ASSERT_EQ(c.status, kExitOk) << c.err;
  const std::string want = TimedOutputName(cliPaths[0], "Merged", JobTm());
  EXPECT_EQ(c.out, want + "\n");
  EXPECT_TRUE(Bytes(want) == Bytes(r.outputPath)) << "merge output differs from the pane's";
  // On a terminal: the messages, and a bar that ends full.
  EXPECT_EQ(c.err.rfind(kTextMerging, 0), 0u) << c.err;
  EXPECT_NE(c.err.find("\r[" + std::string(40, '#') + "] %100\n"), std::string::npos) << c.err;
  EXPECT_NE(c.err.find(std::string(kTextMergeFinished) + "\n"), std::string::npos);

  // -o: the name given, refused when it is taken, and the file there is left as it was.
  args.insert(args.end(), {"-o", cli.File("all.wmv")});
  ASSERT_EQ(Cli(args).status, kExitOk);
  const std::string first = Bytes(cli.File("all.wmv"));
  EXPECT_TRUE(first == Bytes(r.outputPath));
  const Outcome taken = Cli(args);
  EXPECT_EQ(taken.status, kExitRefused);
  EXPECT_NE(taken.err.find(kTextMergeFailed), std::string::npos) << taken.err;
  EXPECT_TRUE(Bytes(cli.File("all.wmv")) == first);
}

// An encoder's clip, cut and then merged with its source on the command line: every step
// takes the last step's output, and the figures of the clip list stay those of the source.
TEST(CliMerge, AMontageOfAnEncoderClipMergesWithItsSource) {
  TempDir dir;
  clipgen::ClipSpec params = Small(3000);
  params.encoderHeader = true;
  params.videoBitRate = 100000;
  params.audioTracks = 2;
  const std::string src = MakeClip(dir, "enc.wmv", params);
  const Outcome cut = Cli({"montage", src, "-s", "2000-3000", "-s", "0-1000", "-q"});
  ASSERT_EQ(cut.status, kExitOk) << cut.err;
  const std::string montage = cut.out.substr(0, cut.out.size() - 1);
  const Outcome merged = Cli({"merge", src, montage, "-o", dir.File("all.wmv"), "-q"});
  ASSERT_EQ(merged.status, kExitOk) << merged.err;

  const std::vector<probe::Frame> frames = probe::DecodeVideo(dir.File("all.wmv"));
  ASSERT_EQ(frames.size(), 75u + 50u);
  for (int i = 0; i < 125; ++i) {
    const int want = i < 75 ? i : i < 100 ? i - 75 + 50 : i - 100;
    ASSERT_EQ(frames[static_cast<size_t>(i)].code, want) << i;
  }
  const Outcome info = Cli({"info", src, montage, dir.File("all.wmv")});
  ASSERT_EQ(info.status, kExitOk) << info.err;
  std::istringstream lines(info.out);
  std::vector<std::string> figures;
  for (std::string line; std::getline(lines, line);)
    figures.push_back(line.substr(0, line.find('\t', line.find('\t') + 1)));
  ASSERT_EQ(figures.size(), 3u);
  EXPECT_EQ(figures[0], "100000bps\t160X120@25.00");
  EXPECT_EQ(figures[1], figures[0]);
  EXPECT_EQ(figures[2], figures[0]);
  const probe::Clip source = probe::ReadClip(src);
  for (const std::string& path : {montage, dir.File("all.wmv")}) {
    const probe::Clip clip = probe::ReadClip(path);
    EXPECT_EQ(clip.bitRates, source.bitRates) << path;
    EXPECT_EQ(clip.languages, source.languages) << path;
    EXPECT_EQ(clip.title, "") << path;
  }
}

TEST(CliInfo, LinesAndJsonCarryTheClipListsFigures) {
  TempDir dir;
  clipgen::ClipSpec params = Small(2500);
  params.fpsNum = 30000;
  params.fpsDen = 1001;
  const std::string a = MakeClip(dir, "a.wmv", params);
  const std::string b = MakeClip(dir, "b b.qmv", Small(1000));
  ClipList list;
  ASSERT_TRUE(list.Add(a));
  ASSERT_TRUE(list.Add(b));

  const Outcome text = Cli({"info", a, b});
  ASSERT_EQ(text.status, kExitOk) << text.err;
  std::string want;
  for (const ClipList::Row& row : list.Rows())
    want += row.cells[1] + "\t" + row.cells[2] + "\t" + row.cells[3] + "\t" + row.cells[4] + "\t" +
            row.cells[5] + "\n";
  EXPECT_EQ(text.out, want);
  EXPECT_NE(text.out.find("160X120@29.97\t00:00:02\t"), std::string::npos) << text.out;

  // JSON: one object per clip, plain numbers; a clip that cannot be read says so in its object.
  const std::string missing = dir.File("gone.wmv");
  const Outcome json = Cli({"info", "--json", a, missing, b});
  EXPECT_EQ(json.status, kExitRefused);
  std::istringstream lines(json.out);
  std::vector<QJsonObject> objects;
  for (std::string line; std::getline(lines, line);) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    objects.push_back(doc.object());
  }
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0]["path"].toString().toStdString(), a);
  // The same figures as the list's texts, unrounded.
  char resolution[64];
  std::snprintf(resolution, sizeof(resolution), "%dX%d@%.02f", objects[0]["width"].toInt(),
                objects[0]["height"].toInt(), objects[0]["frameRate"].toDouble());
  EXPECT_EQ(resolution, list.Rows()[0].cells[2]);
  EXPECT_EQ(std::to_string(objects[0]["bitRate"].toInteger()) + "bps", list.Rows()[0].cells[1]);
  EXPECT_EQ(objects[0]["width"].toInt(), 160);
  EXPECT_NEAR(objects[0]["frameRate"].toDouble(), 29.97, 0.005);
  EXPECT_EQ(objects[0]["durationMs"].toInt(), static_cast<int>(list.Rows()[0].durationMs));
  EXPECT_GE(objects[0]["durationMs"].toInt(), 2500);
  EXPECT_EQ(objects[0]["fileTime"].toString().toStdString(), list.Rows()[0].cells[4]);
  EXPECT_EQ(objects[1]["error"].toString().toStdString(), kMsgCannotOpenClip);
  EXPECT_EQ(objects[2]["path"].toString().toStdString(), b);
  EXPECT_EQ(json.err, missing + ": " + kMsgCannotOpenClip + "\n");
}

TEST(CliRefusals, BadInputGetsThePanesTextsAndNothingIsWritten) {
  TempDir dir;
  const std::string clip = MakeClip(dir, "clip.wmv", Small(2000));
  clipgen::ClipSpec wide = Small(2000);
  wide.width = 176;
  const std::string other = MakeClip(dir, "wide.wmv", wide);
  const std::string text = dir.File("notes.wmv");
  std::ofstream(text) << "not a clip at all, but long enough to look like a header to nobody\n";
  const std::string avi = dir.File("clip.avi");
  fs::copy_file(clip, avi);
  std::ofstream(dir.File("afile")) << "x";
  const std::string taken = dir.File("taken.wmv");
  std::ofstream(taken) << "keep";
  const std::string badCsv = dir.File("bad.csv");
  std::ofstream(badCsv) << "0,1.0,1\n1.5,1.2,2\n";
  const std::string longCsv = dir.File("long.csv");
  std::ofstream(longCsv) << "0,1.0,1\n1.5,2.5,2\n";

  struct Case {
    std::vector<std::string> args;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{"info", dir.File("missing.wmv")}, kMsgCannotOpenClip},
      {{"info", text}, kMsgCannotOpenClip},
      {{"info", avi}, "not a .wmv or .qmv clip."},
      {{"montage", dir.File("missing.wmv"), "-s", "0-1000"}, kMsgCannotOpenClip},
      {{"montage", text, "-s", "0-1000"}, kMsgCannotOpenClip},
      {{"montage", clip, "-s", "1500-2500"}, kMsgBlockInvalid},
      {{"montage", clip, "-s", "0-1000", "-o", taken}, "A file of that name exists already."},
      {{"montage", clip, "--sections", badCsv}, "refused, row 2: the end is not after the start"},
      {{"montage", clip, "--sections", longCsv}, "row 2: the end lies after the clip's end"},
      {{"montage", clip, "--sections", dir.File("missing.csv")}, "cannot be read"},
      {{"montage", clip, "-s", "0-1000", "-o", dir.File("afile/out.wmv")}, "Not a directory."},
      {{"merge", clip, other}, kTextDifferentAttribute},
      {{"merge", clip, text}, kMsgCannotOpenClip},
      {{"merge", clip, dir.File("missing.wmv")}, kMsgCannotOpenClip},
      {{"merge", clip, clip, "-o", taken}, "the output file exists"},
      {{"merge", clip, "-o", dir.File("afile/out.wmv")}, "Not a directory"},
  };
  const int files = testutil::CountFiles(dir.Path());
  for (const Case& c : cases) {
    const Outcome r = Cli(c.args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.status, kExitRefused) << line << r.err;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << line << "\n" << r.err;
    EXPECT_EQ(r.out, "") << line;
    EXPECT_EQ(testutil::CountFiles(dir.Path()), files) << line;
  }
  EXPECT_EQ(Bytes(taken), "keep");
}

TEST(CliRefusals, BadArgumentsGiveAUsageLineAndStatus2) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"cut"},
      {"info"},
      {"info", "--bogus", "a.wmv"},
      {"montage", "a.wmv"},
      {"montage", "-s", "0-1000"},
      {"montage", "a.wmv", "b.wmv", "-s", "0-1000"},
      {"montage", "a.wmv", "-s", "1:75-2:00"},
      {"montage", "a.wmv", "-s", "2000-1000"},
      {"montage", "a.wmv", "-s"},
      {"montage", "a.wmv", "-s", "0-1000", "-o", "out.mp4"},
      {"montage", "a.wmv", "-s", "0-1000", "--json"},
      {"montage", "a.wmv", "-s", "0-1000", "--sections", "a.csv"},
      {"montage", "a.wmv", "--sections", "a.csv", "--sections=b.csv"},
      {"montage", "a.wmv", "--sections"},
      {"merge"},
      {"merge", "a.wmv", "-o"},
      {"merge", "a.wmv", "-o", "x.wmv", "-o", "y.wmv"},
      {"merge", "a.wmv", "--quiet=yes"},
  };
  for (const auto& args : cases) {
    const Outcome r = Cli(args);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(r.status, kExitUsage) << line;
    EXPECT_NE(r.err.find("Usage: vantrel-cli"), std::string::npos) << line << r.err;
    EXPECT_EQ(r.out, "") << line;
  }
  // Help for each verb, on standard output.
  for (const char* verb : {"info", "montage", "merge"}) {
    const Outcome r = Cli({verb, "--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out.rfind(std::string("Usage: vantrel-cli ") + verb, 0), 0u) << r.out;
  }
  EXPECT_EQ(Cli({"--help"}).status, kExitOk);
}

// The executable itself, its standard error on a terminal or on a pipe.
Outcome Spawn(const std::vector<std::string>& args, bool terminal) {
  const std::string exe = fs::canonical("/proc/self/exe").parent_path() / "vantrel-cli";
  int outPipe[2], errPipe[2];
  EXPECT_EQ(pipe(outPipe), 0);
  int master = -1, slave = -1;
  if (terminal) {
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  } else {
    EXPECT_EQ(pipe(errPipe), 0);
    master = errPipe[0];
    slave = errPipe[1];
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(slave, 2);
    close(outPipe[0]);
    close(master);
    std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(slave);
  Outcome r;
  auto drain = [](int fd, std::string* into) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof(buf))) > 0;)
      into->append(buf, static_cast<size_t>(n));
  };
  drain(master, &r.err);  // a terminal reports EIO once the child is gone
  drain(outPipe[0], &r.out);
  close(master);
  close(outPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(CliProcess, ExitStatusAndAProgressBarOnlyOnATerminal) {
  TempDir dir;
  const std::string clip = MakeClip(dir, "clip.wmv", Small(3000));
  const Outcome tty = Spawn({"montage", clip, "-s", "0-2000", "-o", dir.File("t.wmv")}, true);
  EXPECT_EQ(tty.status, kExitOk) << tty.err;
  EXPECT_EQ(tty.out, dir.File("t.wmv") + "\n");
  EXPECT_NE(tty.err.find("] %100"), std::string::npos) << tty.err;
  const Outcome piped = Spawn({"montage", clip, "-s", "0-2000", "-o", dir.File("p.wmv")}, false);
  EXPECT_EQ(piped.status, kExitOk) << piped.err;
  EXPECT_EQ(piped.err, std::string(kMsgMontageRunning) + "\n" + kMsgMontageDone + "\n");
  EXPECT_TRUE(Bytes(dir.File("t.wmv")) == Bytes(dir.File("p.wmv")));
  EXPECT_EQ(Spawn({"montage", clip, "-s", "0-9000"}, false).status, kExitRefused);
  EXPECT_EQ(Spawn({"montage", clip}, false).status, kExitUsage);
}

}  // namespace
