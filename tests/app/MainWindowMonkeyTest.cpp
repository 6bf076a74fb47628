// A seeded monkey on the main window: thousands of random user actions across all panes, with
// the window's invariants checked after every one of them. The CI run is short and fixed;
// VANTREL_MONKEY_ACTIONS and VANTREL_MONKEY_SEED make longer runs with other seeds.
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "CQmvSel.h"
#include "CQmvSld.h"
#include "CXStatic.h"
#include "ClipFile.h"
#include "MainWindowFixture.h"
#include "MediaProbe.h"
#include "MergePane.h"
#include "MontagePane.h"
#include "PaneDriver.h"
#include "SectionList.h"
#include "TestDir.h"

std::string CheckClipList(CVantrelDlg& dlg);  // MonkeyClipCheck.cpp

namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

clipgen::ClipSpec ClipOf(int ms, int width, int height) {
  clipgen::ClipSpec s;
  s.durationMs = ms;
  s.width = width;
  s.height = height;
  s.keyIntervalMs = 1000;
  return s;
}

int64_t EndOf(const PERIOD& s) {
  return static_cast<int64_t>(s.nFrom) + s.nDur;
}

class MainWindowMonkey : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // Two clips alike (they merge), one of another size (refused), a text file named as a
    // clip, and a path that does not exist.
    pool_ = {testutil::MakeClip(dir_, "a.wmv", ClipOf(3000, 160, 120)),
             testutil::MakeClip(dir_, "b.wmv", ClipOf(5000, 160, 120)),
             testutil::MakeClip(dir_, "c.WMV", ClipOf(4000, 128, 96)),
             dir_.File("note.wmv"),
             dir_.File("missing.wmv"),
             dir_.File("d.avi")};
    std::ofstream(dir_.File("note.wmv")) << "not a clip\n";
    std::ofstream(dir_.File("d.avi")) << "not a clip either\n";
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
      known_.insert(e.path().filename().string());
    dlg->pickClipFile = [this] { return PoolPath(); };
    timeline_ = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
  }

  QString PoolPath() {
    if (Chance(10)) return QString();  // the dialog cancelled
    return QString::fromStdString(pool_[Rand(pool_.size())]);
  }
  size_t Rand(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  int RandIn(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return RandIn(0, 99) < percent; }

  // A number for a position or cell edit: often near the sections' values, sometimes wild.
  QString Number() {
    switch (RandIn(0, 5)) {
      case 0:
        return QString();
      case 1:
        return QString::number(RandIn(0, 10));
      case 2:
        return QString::number(RandIn(0, 6000));
      case 3:
        if (timeline_->GetCount() > 0) {
          const PERIOD p = *timeline_->GetPeriod(RandIn(0, timeline_->GetCount() - 1));
          return QString::number(std::max<int64_t>(0, p.nFrom + p.nDur + RandIn(-3, 3)));
        }
        return "0";
      case 4:
        return "00" + QString::number(RandIn(0, 99));
      default:
        return "99999999999";
    }
  }

  void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                 Qt::MouseButtons held) {
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }
  QPoint TimelinePoint() {
    const int w = timeline_->width();
    const int h = timeline_->height();
    return QPoint(Chance(10) ? RandIn(-5, w + 5) : RandIn(0, w - 1),
                  Chance(15) ? RandIn(-3, h + 3) : RandIn(2, std::max(2, h - 3)));
  }

  void TimelineAction() {
    const Qt::MouseButton b = Chance(80) ? Qt::LeftButton : Qt::RightButton;
    const QPoint at = TimelinePoint();
    switch (RandIn(0, 3)) {
      case 0:  // click
        SendMouse(timeline_, QEvent::MouseButtonPress, at, b, b);
        SendMouse(timeline_, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
        break;
      case 1: {  // drag, maybe from a section's edge
        QPoint from = at;
        const PERIOD& edit = timeline_->Bar().GetEditPeriod();
        if (edit.nDur > 0 && Chance(60)) {
          const int y = timeline_->height() / 2;
          from = QPoint(
              timeline_->Bar().XFromPos(Chance(50) ? edit.nFrom : static_cast<int>(EndOf(edit))) +
                  RandIn(-3, 3),
              y);
        }
        SendMouse(timeline_, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        QPoint p = from;
        for (int i = RandIn(1, 5); i > 0; --i) {
          p += QPoint(RandIn(-40, 40), Chance(10) ? RandIn(-20, 20) : 0);
          SendMouse(timeline_, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
          if (Chance(30)) QApplication::processEvents();
        }
        SendMouse(timeline_, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
        break;
      }
      case 2:  // double-click
        SendMouse(timeline_, QEvent::MouseButtonPress, at, b, b);
        SendMouse(timeline_, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
        SendMouse(timeline_, QEvent::MouseButtonDblClick, at, b, b);
        SendMouse(timeline_, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
        break;
      default:  // hover, or arrow keys once it has the focus
        SendMouse(timeline_, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        QTest::keyClick(timeline_, Chance(50) ? Qt::Key_Left : Qt::Key_Right);
        break;
    }
  }

  void TypeAction() {
    static const int kEdits[] = {1014, 1019, 1025, 1032, 1042};
    const int id = kEdits[Rand(std::size(kEdits))];
    if (!dlg->Edit(id)->isVisibleTo(dlg.get()) && Chance(80)) return;
    if (id == 1025 || id == 1042)
      Type(*dlg, id, Chance(90) ? PoolPath() : QString("x.wmv.bak"));
    else
      Type(*dlg, id, Number());
  }

  void ButtonAction() {
    static const int kButtons[] = {1026, 1027, 1013, 1011, 1003, 1004, 1015, 1020, 1021, 1029,
                                   1030, 1031, 1033, 1034, 1043, 1047, 1048, 1000, 1001, 1008};
    // The often useful ones more often.
    static const int kMarks[] = {1013, 1013, 1015, 1011, 1027, 1029, 1020, 1034};
    const int id =
        Chance(40) ? kMarks[Rand(std::size(kMarks))] : kButtons[Rand(std::size(kButtons))];
    QWidget* b = dlg->GetDlgItem(id);
    if (!b->isVisibleTo(dlg.get())) return;  // a user cannot reach it
    if (id == 1015 && Chance(70)) Type(*dlg, 1014, Number());
    // The jobs dispatch the window's messages: input queued now arrives while they run.
    if ((id == 1021 || id == 1034) && Chance(50)) QueueInput();
    Click(*dlg, id);
  }

  // Posts a few clicks and keys, as a user who goes on clicking while a job runs.
  void QueueInput() {
    static const int kTargets[] = {1027, 1013, 1011, 1015, 1020, 1021, 1029, 1030, 1031,
                                   1033, 1034, 1026, 1002, 1016, 1016, 1005, 1035};
    for (int i = RandIn(1, 4); i > 0; --i) {
      const int id = kTargets[Rand(std::size(kTargets))];
      QWidget* w = dlg->GetDlgItem(id);
      QPoint at = w->rect().center();
      if (id == 1016) {
        auto* sel = qobject_cast<CQmvSel*>(w);
        at = sel->Model().ItemRect(RandIn(0, 2), sel->width()).center();
      } else if (id == 1005 || id == 1035) {
        w = qobject_cast<CReportList*>(w)->viewport();
        at = QPoint(RandIn(0, w->width() - 1), RandIn(0, 40));
      } else if (id == 1002) {
        at = TimelinePoint();
      }
      const QPoint g = w->mapToGlobal(at);
      QCoreApplication::postEvent(
          w, new QMouseEvent(QEvent::MouseMove, at, g, Qt::NoButton, Qt::NoButton, Qt::NoModifier));
      QCoreApplication::postEvent(
          w, new QMouseEvent(QEvent::MouseButtonPress, at, g, Qt::LeftButton, Qt::LeftButton,
                             Qt::NoModifier));
      QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, at, g,
                                                     Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    }
    if (Chance(30))
      QCoreApplication::postEvent(
          dlg.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_BracketRight, Qt::NoModifier, "]"));
  }

  // What a user does most in Video Montage: opens a clip, marks a section with Goto and Add
  // Mark, runs the job.
  void SectionAction() {
    if (!Visible(1002)) return;
    const int max = timeline_->Bar().GetMax();
    if (max == 0 || Chance(5)) {
      Type(*dlg, 1025, QString::fromStdString(pool_[Rand(3)]));
      Click(*dlg, 1027);
    } else if (Chance(15) && timeline_->GetCount() > 0) {
      if (Chance(50)) QueueInput();
      Click(*dlg, 1021);
    } else {
      const int from = RandIn(0, max);
      MarkSection(*dlg, from, std::clamp(from + RandIn(-1500, 1500), 0, max));
    }
  }

  void ListAction() {
    const int id = Chance(50) ? 1005 : 1035;
    auto* list = qobject_cast<CReportList*>(dlg->GetDlgItem(id));
    if (!list->isVisibleTo(dlg.get())) return;
    if (Chance(20)) {
      ClickColumnTitle(*dlg, id, RandIn(0, list->columnCount() - 1));
      return;
    }
    const int rows = list->GetItemCount();
    if (rows == 0 || Chance(5)) {
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                        QPoint(5, list->viewport()->height() - 2));
      return;
    }
    ClickCell(*dlg, id, RandIn(0, rows - 1), RandIn(0, list->columnCount() - 1));
  }

  void DropAction() {
    QStringList files;
    for (int i = RandIn(0, 4); i > 0; --i)
      files << QString::fromStdString(pool_[Rand(pool_.size())]);
    if (Chance(50)) {
      dlg->OnDropFiles(files);
      return;
    }
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    mime.setUrls(urls);
    QDropEvent drop(QPointF(200, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &drop);
  }

  void Act() {
    const int r = RandIn(0, 99);
    if (r < 2) {
      PickFunction(RandIn(0, 2) == 0   ? kFunctionMerge
                   : RandIn(0, 1) == 0 ? kFunctionMontage
                                       : kFunctionExport);
    } else if (r < 3) {
      if (Visible(1044)) PickItem(1044, RandIn(0, 4));
    } else if (r < 25) {
      TypeAction();
    } else if (r < 48) {
      ButtonAction();
    } else if (r < 55) {
      SectionAction();
    } else if (r < 67) {
      ListAction();
    } else if (r < 87) {
      if (Visible(1002)) TimelineAction();
    } else if (r < 91) {
      DropAction();
    } else if (r < 96) {
      QTest::keyClick(dlg.get(), Chance(50) ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
    } else {
      // Any size, then back: clicks outside a shrunken window would reach nothing.
      dlg->resize(RandIn(20, 700), RandIn(20, 500));
      QApplication::processEvents();
      dlg->resize(480, 343);
    }
    QApplication::processEvents();
  }

  // Every check the window must pass between two actions; returns what broke ("" when none).
  std::string Check() {
    const int n = timeline_->GetCount();
    const CPeriodBar& bar = timeline_->Bar();
    std::vector<PERIOD> sections;
    for (int i = 0; i < n; ++i) sections.push_back(*timeline_->GetPeriod(i));
    for (int i = 0; i < n; ++i) {
      const PERIOD& s = sections[i];
      if (s.nDur <= 0 || s.nFrom < bar.GetMin() || EndOf(s) > bar.GetMax())
        return "section " + std::to_string(i) + " {" + std::to_string(s.nFrom) + ", " +
               std::to_string(s.nDur) + "} out of 0.." + std::to_string(bar.GetMax());
      for (int j = i + 1; j < n; ++j) {
        const PERIOD& t = sections[j];
        if (!(EndOf(s) < t.nFrom || EndOf(t) < s.nFrom))
          return "sections " + std::to_string(i) + " and " + std::to_string(j) + " overlap";
      }
    }
    const CSectionList& list = dlg->Montage()->List();
    if (list.RowCount() != n)
      return std::to_string(list.RowCount()) + " rows for " + std::to_string(n) + " sections";
    std::vector<bool> used(n, false);
    for (int r = 0; r < n; ++r) {
      int match = -1;
      for (int i = 0; i < n && match < 0; ++i) {
        const PERIOD& s = sections[i];
        if (!used[i] && CSectionList::ReadNumber(list.Text(r, 0)) == s.nSeq &&
            CSectionList::ReadNumber(list.Text(r, 1)) == s.nFrom &&
            CSectionList::ReadNumber(list.Text(r, 2)) == EndOf(s) &&
            CSectionList::ReadNumber(list.Text(r, 3)) == s.nDur)
          match = i;
      }
      if (match < 0) return "row " + std::to_string(r) + " stands for no section";
      used[match] = true;
    }
    auto* sectionView = qobject_cast<CReportList*>(dlg->GetDlgItem(1005));
    if (sectionView->GetItemCount() != n) return "section list view out of step";
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < 4; ++c)
        if (sectionView->GetItemText(r, c).toStdString() != list.Text(r, c))
          return "section list view cell out of step";

    if (std::string clipsBroken = CheckClipList(*dlg); !clipsBroken.empty()) return clipsBroken;

    for (const auto& e : std::filesystem::directory_iterator(dir_.Path())) {
      const std::string name = e.path().filename().string();
      if (name.rfind(".vantrel-", 0) == 0) return "half-written file left: " + name;
      if (known_.count(name)) continue;
      known_.insert(name);
      ++outputs_;
      const probe::DecodeResult d = probe::DecodeAll(e.path().string());
      if (!d.ok || d.errors != 0 || d.videoFrames == 0)
        return "output " + name + " does not decode (" + std::to_string(d.errors) + " errors)";
    }
    return std::string();
  }

  testutil::TempDir dir_;
  std::vector<std::string> pool_;
  std::set<std::string> known_;
  std::mt19937 rng_;
  CQmvSld* timeline_ = nullptr;
  int outputs_ = 0;
};

TEST_F(MainWindowMonkey, RandomActionsKeepTheWindowConsistent) {
  const int actions = EnvInt("VANTREL_MONKEY_ACTIONS", 300);
  const int seed = EnvInt("VANTREL_MONKEY_SEED", 20240705);
  rng_.seed(static_cast<unsigned>(seed));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < actions; ++i) {
    const auto before = std::chrono::steady_clock::now();
    Act();
    const auto took = std::chrono::steady_clock::now() - before;
    ASSERT_LT(took, std::chrono::seconds(20)) << "action " << i << " hangs (seed " << seed << ")";
    const std::string broken = Check();
    if (std::getenv("VANTREL_MONKEY_TRACE") && i % 25 == 0)
      std::printf("%d: fn %d max %d sections %d msg %s\n", i, dlg->CurrentFunction(),
                  timeline_->Bar().GetMax(), timeline_->GetCount(),
                  dlg->Message().toStdString().c_str());
    ASSERT_EQ(broken, "") << "after action " << i << " (seed " << seed << ")";
  }
  const auto secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
  std::printf("monkey seed %d: %d actions, %d clips written, %d sections at the end, %.1f s\n",
              seed, actions, outputs_, timeline_->GetCount(), secs.count());
}

}  // namespace
