// Playing and keys in Video Montage from the user's side: Space plays the source in the preview
// screen and pauses on a frame that Add Mark then marks, Shift+Space plays the sections by number
// from their real starts, and the keys move the cursor exactly; the window's thread is never
// held up for long.
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "CQmvSld.h"
#include "CQmvply.h"
#include "CXStatic.h"
#include "ClipGen.h"
#include "MainWindowFixture.h"
#include "MontagePane.h"
#include "PaneDriver.h"
#include "QtEventLoop.h"
#include "SectionList.h"
#include "TestDir.h"

namespace {

// A sanitizer build runs the player several times slower: its starts lag and its steps take longer.
#ifdef VANTREL_SANITIZED
constexpr int kSlowBuild = 4;
#else
constexpr int kSlowBuild = 1;
#endif

// The longest the window's thread went without running its timers, from Start on.
class Heartbeat {
 public:
  void Start() {
    m_clock.start();
    m_last = 0;
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      const qint64 now = m_clock.elapsed();
      m_longest = std::max(m_longest, now - m_last);
      m_last = now;
    });
    m_timer.start();
  }
  qint64 Longest() const { return m_longest; }

 private:
  QTimer m_timer;
  QElapsedTimer m_clock;
  qint64 m_last = 0;
  qint64 m_longest = 0;
};

class MontagePlayTest : public MainWindowTest {
 protected:
  void OpenClip(const clipgen::ClipSpec& params) {
    src = testutil::MakeClip(dir, "source.wmv", params);
    PickFunction(kFunctionMontage);
    // Keys go to the active window.
    dlg->activateWindow();
    QApplication::setActiveWindow(dlg.get());
    // The picture at its own size, so that its frame code can be read back.
    dlg->Static(1007)->resize(params.width, params.height);
    Type(*dlg, 1025, QString::fromStdString(src));
    Click(*dlg, 1027);
    timeline = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
    ASSERT_TRUE(testutil::RunUntil([&] { return !dlg->Montage()->KeyFrames().empty(); }, 20000));
    // Anywhere but an edit: the section list.
    dlg->GetDlgItem(1005)->setFocus();
  }
  void GotoPos(int pos) {
    Type(*dlg, 1014, QString::number(pos));
    Click(*dlg, 1015);
    dlg->GetDlgItem(1005)->setFocus();
  }
  // A key as the user presses it, on the widget with the focus; returns how long it took.
  qint64 Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : dlg.get();
    QElapsedTimer t;
    t.start();
    QTest::keyClick(target, key, mods);
    const qint64 took = t.elapsed();
    longestKey = std::max(longestKey, took);
    return took;
  }
  int SelectedRow() {
    auto* list = qobject_cast<CReportList*>(dlg->GetDlgItem(1005));
    return list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : -1;
  }

  testutil::TempDir dir;
  std::string src;
  CQmvSld* timeline = nullptr;
  qint64 longestKey = 0;
};

}  // namespace

// Space plays from 10 s with the cursor and edit 1014 following, pauses with the cursor on the
// frame shown (the still preview shows that frame again), and Add Mark marks it.
TEST_F(MontagePlayTest, SpacePlaysFromTheCursorAndPausesOnTheFrameShown) {
  OpenClip(SmallClip(20000));
  GotoPos(10000);
  Heartbeat beat;
  beat.Start();
  QElapsedTimer since;
  since.start();
  Key(Qt::Key_Space);
  EXPECT_TRUE(dlg->Montage()->IsPlaying());
  // Follows at 10 updates a second at least.
  std::vector<int> seen;
  testutil::RunUntil(
      [&] {
        if (seen.empty() || seen.back() != timeline->GetPos()) seen.push_back(timeline->GetPos());
        return since.elapsed() >= 2000;
      },
      5000);
  const int at2s = timeline->GetPos();
  EXPECT_NEAR(at2s, 12000, 300 * kSlowBuild);
  EXPECT_EQ(dlg->Edit(1014)->text(), QString::number(at2s));
  EXPECT_GE(seen.size(), 15u);
  testutil::RunFor(200);
  EXPECT_GT(timeline->GetPos(), at2s);

  Key(Qt::Key_Space);
  EXPECT_FALSE(dlg->Montage()->IsPlaying());
  const int paused = timeline->GetPos();
  EXPECT_EQ(paused, dlg->PreviewPlayer()->GetShownPosition());
  EXPECT_EQ(paused % 40, 0) << paused;
  EXPECT_GT(paused, at2s);
  EXPECT_EQ(dlg->Edit(1014)->text(), QString::number(paused));
  CXStatic* screen = dlg->Static(1007);
  EXPECT_TRUE(testutil::RunUntil([&] { return ShownCode(screen) == paused / 40; }, 10000))
      << "shown " << ShownCode(screen) << ", wanted " << paused / 40;
  testutil::RunFor(300);
  EXPECT_EQ(timeline->GetPos(), paused);

  Click(*dlg, 1013);
  ASSERT_TRUE(timeline->Bar().IsBeginSet());
  EXPECT_EQ(timeline->Bar().GetBegin(), paused);

  // Played on from there, then to the clip's end: the still preview takes over at the end.
  Key(Qt::Key_Space);
  ASSERT_TRUE(testutil::RunUntil([&] { return timeline->GetPos() > paused + 200; }, 5000));
  GotoPos(19000);  // a click on Goto: the cursor there, nothing plays
  EXPECT_FALSE(dlg->Montage()->IsPlaying());
  Key(Qt::Key_Space);
  EXPECT_TRUE(testutil::RunUntil([&] { return !dlg->Montage()->IsPlaying(); }, 8000));
  EXPECT_GE(timeline->GetPos(), 19500);
  EXPECT_LE(beat.Longest(), 100 * kSlowBuild);
  EXPECT_LE(longestKey, 50 * kSlowBuild);
  RecordProperty("longest_block_ms", static_cast<int>(beat.Longest()));
}

// Shift+Space on sections numbered 2, 1, 3 along the timeline: the player gets the three
// ranges from their real starts in number order, each range's first picture is its real start,
// the cursor stays inside the range that plays and the row of its section is selected.
TEST_F(MontagePlayTest, ShiftSpacePlaysTheSectionsByNumberFromTheirRealStarts) {
  OpenClip(SmallClip(12000));  // a key frame every second
  // Marked in the order 1, 2, 3: B, then A before it, then C.
  MarkSection(*dlg, 5500, 6500);
  MarkSection(*dlg, 2300, 3000);
  MarkSection(*dlg, 8200, 8800);
  ASSERT_EQ(timeline->GetCount(), 3);
  dlg->GetDlgItem(1005)->setFocus();
  struct Expect {
    int from, to, section;
  };
  const Expect expected[] = {{5000, 6500, 0}, {2000, 3000, 1}, {8000, 8800, 2}};
  const auto files = [&] {
    return std::distance(std::filesystem::directory_iterator(dir.Path()),
                         std::filesystem::directory_iterator());
  };
  const auto before = files();

  Heartbeat beat;
  beat.Start();
  Key(Qt::Key_Space, Qt::ShiftModifier);
  ASSERT_TRUE(dlg->Montage()->IsPlaying());
  struct Sample {
    int range, pos, shown, cursor, row;
  };
  std::vector<Sample> samples;
  CQmvply* player = dlg->PreviewPlayer();
  ASSERT_TRUE(testutil::RunUntil(
      [&] {
        if (player->IsPlaying())
          samples.push_back({player->GetRangeIndex(), player->GetPosition(),
                             player->GetShownPosition(), timeline->GetPos(), SelectedRow()});
        return !dlg->Montage()->IsPlaying();
      },
      15000));
  ASSERT_FALSE(samples.empty());
  int range = 0;
  int firstShown[3] = {-1, -1, -1};
  bool rowSeen[3] = {false, false, false};
  for (const Sample& s : samples) {
    ASSERT_GE(s.range, range);
    ASSERT_LE(s.range, 2);
    range = s.range;
    const Expect& e = expected[range];
    if (s.pos > 0) {
      EXPECT_GE(s.pos, e.from - 40) << "range " << range;
      EXPECT_LE(s.pos, e.to + 40) << "range " << range;
    }
    if (firstShown[range] < 0 && s.shown >= e.from && s.shown <= e.to) firstShown[range] = s.shown;
    // The row of the range's section once the cursor is inside it.
    if (s.cursor >= e.from && s.cursor <= e.to) {
      const PERIOD* p = timeline->GetPeriod(e.section);
      const QString from = QString::number(p->nFrom);
      if (s.row >= 0 && CellText(*dlg, 1005, s.row, 1) == from) rowSeen[range] = true;
    }
  }
  EXPECT_EQ(range, 2);
  for (int i = 0; i < 3; ++i) {
    EXPECT_GE(firstShown[i], expected[i].from) << "range " << i;
    EXPECT_LE(firstShown[i], expected[i].from + 80) << "range " << i;
    EXPECT_TRUE(rowSeen[i]) << "range " << i;
  }
  EXPECT_EQ(files(), before);  // nothing written

  // The section list's menu plays it too; Space pauses it inside the first range.
  QMenu* menu = dlg->Montage()->ListMenu();
  QAction* play = nullptr;
  for (QAction* a : menu->actions())
    if (a->text() == "Play Montage") play = a;
  ASSERT_NE(play, nullptr);
  play->trigger();
  ASSERT_TRUE(dlg->Montage()->IsPlaying());
  ASSERT_TRUE(testutil::RunUntil([&] { return timeline->GetPos() > 5200; }, 5000));
  Key(Qt::Key_Space);
  EXPECT_FALSE(dlg->Montage()->IsPlaying());
  EXPECT_GE(timeline->GetPos(), 5200);
  EXPECT_LE(timeline->GetPos(), 6500);
  EXPECT_LE(beat.Longest(), 100 * kSlowBuild);
  EXPECT_LE(longestKey, 50 * kSlowBuild);
  RecordProperty("longest_block_ms", static_cast<int>(beat.Longest()));
}

// Each key moves the cursor exactly: a frame (of the clip's rate, 30 fps here), a key frame, a
// mark, the ends; I and O set the points Add Mark would, Delete erases; in an edit being typed in
// the keys are the edit's.
TEST_F(MontagePlayTest, KeysMoveTheCursorExactly) {
  clipgen::ClipSpec params = SmallClip(10000);
  params.fpsNum = 30;
  params.keyFramesMs = {2000, 5000, 7000};
  OpenClip(params);
  GotoPos(3000);
  const auto at = [&] { return timeline->GetPos(); };
  Key(Qt::Key_Right);
  EXPECT_EQ(at(), 3033);
  EXPECT_EQ(dlg->Edit(1014)->text(), "3033");
  Key(Qt::Key_Left);
  EXPECT_EQ(at(), 3000);
  Key(Qt::Key_Left);
  EXPECT_EQ(at(), 2966);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(at(), 5000);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(at(), 7000);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(at(), 5000);
  Key(Qt::Key_End);
  EXPECT_EQ(at(), 10000);
  Key(Qt::Key_Home);
  EXPECT_EQ(at(), 0);
  Key(Qt::Key_Left);
  EXPECT_EQ(at(), 0);

  // I and O: a section from 1000 to 1600; O without a beginning point sets nothing.
  GotoPos(1000);
  Key(Qt::Key_O);
  EXPECT_FALSE(timeline->Bar().IsBeginSet());
  Key(Qt::Key_I);
  ASSERT_TRUE(timeline->Bar().IsBeginSet());
  EXPECT_EQ(timeline->Bar().GetBegin(), 1000);
  Key(Qt::Key_I);  // a second beginning point is no end point
  EXPECT_EQ(timeline->GetCount(), 0);
  GotoPos(1600);
  Key(Qt::Key_O);
  ASSERT_EQ(timeline->GetCount(), 1);
  EXPECT_EQ(timeline->GetPeriod(0)->nFrom, 1000);
  EXPECT_EQ(timeline->GetPeriod(0)->nDur, 600);
  EXPECT_EQ(dlg->Montage()->List().RowCount(), 1);
  Key(Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(at(), 1000);
  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(at(), 1600);
  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(at(), 1600);

  // Inside the section I and O are the split points, and Delete cuts the span out.
  GotoPos(1200);
  Key(Qt::Key_O);
  EXPECT_EQ(timeline->Bar().GetSplitState(), 0);
  Key(Qt::Key_I);
  EXPECT_EQ(timeline->Bar().GetSplitState(), 1);
  GotoPos(1400);
  Key(Qt::Key_O);
  EXPECT_EQ(timeline->Bar().GetSplitState(), 2);
  Key(Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(at(), 1200);
  Key(Qt::Key_Delete);
  ASSERT_EQ(timeline->GetCount(), 2);
  // Delete on a selected section removes it, as Erase does.
  ClickCell(*dlg, 1005, 0, 0);
  dlg->GetDlgItem(1005)->setFocus();
  Key(Qt::Key_Delete);
  EXPECT_EQ(timeline->GetCount(), 1);

  // In an edit being typed in the keys are the edit's.
  GotoPos(5000);
  dlg->Edit(1014)->setFocus();
  Key(Qt::Key_Left);
  Key(Qt::Key_Home);
  Key(Qt::Key_Space);
  EXPECT_EQ(at(), 5000);
  EXPECT_FALSE(dlg->Montage()->IsPlaying());
  EXPECT_LE(longestKey, 50 * kSlowBuild);

  // The keys belong to Video Montage: with another function shown they do nothing here.
  dlg->GetDlgItem(1005)->setFocus();
  PickFunction(kFunctionMerge);
  Key(Qt::Key_Right);
  EXPECT_EQ(at(), 5000);
}
