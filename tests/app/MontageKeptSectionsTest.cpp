// The montage pane's undo keys, its sections kept across sessions and the CSV of its section
// list, driven as a user drives them.
#include <QMenu>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CQmvSld.h"
#include "MainWindowFixture.h"
#include "MontagePane.h"
#include "PaneDriver.h"
#include "SectionKeeper.h"
#include "TestDir.h"

namespace fs = std::filesystem;

namespace {

struct Span {
  int from, to, seq;
  bool operator==(const Span&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Span& s) {
  return os << "{" << s.from << "-" << s.to << "@" << s.seq << "}";
}

class MontageKeep : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    src = testutil::MakeClip(dir, "trip.wmv", SmallClip(20000));
    Start();
  }
  // The window as the program starts it, on the source clip.
  void Start() {
    PickFunction(kFunctionMontage);
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    Keeper().pickCsvFile = [this](bool) { return QString::fromStdString(csv); };
    Type(*dlg, 1025, QString::fromStdString(src));
    Click(*dlg, 1027);
  }
  void Restart() {
    dlg->DestroyWindow();
    dlg.reset();
    MainWindowTest::SetUp();
    Start();
  }
  SectionKeeper& Keeper() { return dlg->Montage()->Keeper(); }
  CQmvSld* Timeline() { return qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002)); }
  // The timeline's sections by start, and the list's rows in the same order: both must agree.
  std::vector<Span> Sections() {
    std::vector<Span> out;
    for (int i = 0; i < Timeline()->GetCount(); ++i) {
      const PERIOD* p = Timeline()->GetPeriod(i);
      out.push_back({p->nFrom, p->nFrom + p->nDur, p->nSeq});
    }
    std::sort(out.begin(), out.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    std::vector<Span> rows;
    auto* list = qobject_cast<CReportList*>(dlg->GetDlgItem(1005));
    for (int r = 0; r < list->GetItemCount(); ++r)
      rows.push_back({CellText(*dlg, 1005, r, 1).toInt(), CellText(*dlg, 1005, r, 2).toInt(),
                      CellText(*dlg, 1005, r, 0).toInt()});
    std::sort(rows.begin(), rows.end(),
              [](const Span& a, const Span& b) { return a.from < b.from; });
    EXPECT_EQ(rows, out) << "the list does not show the timeline's sections";
    return out;
  }
  int RowFrom(int from) {
    auto* list = qobject_cast<CReportList*>(dlg->GetDlgItem(1005));
    for (int r = 0; r < list->GetItemCount(); ++r)
      if (CellText(*dlg, 1005, r, 1) == QString::number(from)) return r;
    return -1;
  }
  void EditCell(int from, int col, const QString& text) {
    ClickCell(*dlg, 1005, RowFrom(from), col);
    Type(*dlg, 1019, text);
    Click(*dlg, 1020);
  }
  void Menu(const QString& entry) {
    QMenu* menu = Keeper().Menu();
    emit menu->aboutToShow();
    for (QAction* a : menu->actions())
      if (a->text() == entry) {
        ASSERT_TRUE(a->isEnabled()) << entry.toStdString();
        a->trigger();
        return;
      }
    FAIL() << "no entry " << entry.toStdString();
  }
  void Key(QWidget* w, int key, Qt::KeyboardModifiers mods) {
    w->setFocus();
    QTest::keyClick(w, static_cast<Qt::Key>(key), mods);
    QApplication::processEvents();
  }
  void Undo(QWidget* w) { Key(w, Qt::Key_Z, Qt::ControlModifier); }
  void Redo(QWidget* w) { Key(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); }

  testutil::TempDir dir;
  std::string src;
  std::string csv = dir.File("sections.csv");
};

std::string Text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(MontageKeep, CtrlZUndoesEachChangeAnywhereInThePaneButInAnEdit) {
  MarkSection(*dlg, 8000, 12000);
  MarkSection(*dlg, 2000, 4000);
  const std::vector<Span> two = {{2000, 4000, 2}, {8000, 12000, 1}};
  ASSERT_EQ(Sections(), two);

  EditCell(8000, 1, "9000");  // a start typed in the list
  const std::vector<Span> typedStart = {{2000, 4000, 2}, {9000, 12000, 1}};
  ASSERT_EQ(Sections(), typedStart);
  ClickColumnTitle(*dlg, 1005, 1);  // sorted by start and renumbered
  const std::vector<Span> renumbered = {{2000, 4000, 1}, {9000, 12000, 2}};
  ASSERT_EQ(Sections(), renumbered);
  EditCell(2000, 0, "2");  // a number typed in the list
  const std::vector<Span> edited = Sections();
  // A cut through the middle of the first section with two split points and Erase.
  for (int pos : {2500, 3500}) {
    Type(*dlg, 1014, QString::number(pos));
    Click(*dlg, 1015);
    Click(*dlg, 1013);
  }
  Click(*dlg, 1011);
  const std::vector<Span> cut = {{2000, 2500, 2}, {3500, 4000, 1}, {9000, 12000, 2}};
  ASSERT_EQ(Sections(), cut);

  // Back step by step with the focus on the timeline, the list and a button.
  Undo(Timeline());
  Undo(Timeline());  // the two split points
  EXPECT_EQ(Timeline()->Bar().GetSplitState(), 1);
  Undo(dlg->GetDlgItem(1005));
  EXPECT_EQ(Timeline()->Bar().GetSplitState(), 0);
  EXPECT_EQ(Sections(), edited);
  Undo(dlg->GetDlgItem(1021));  // the typed number
  EXPECT_EQ(Sections(), renumbered);
  Undo(Timeline());  // the renumber
  EXPECT_EQ(Sections(), typedStart);
  Undo(Timeline());
  EXPECT_EQ(Sections(), two);

  // In an edit being typed in, the keys are the edit's: the sections stay.
  Type(*dlg, 1019, "123");
  Undo(dlg->Edit(1019));
  EXPECT_EQ(Sections(), two);

  Redo(Timeline());
  Redo(Timeline());
  EXPECT_EQ(Sections(), renumbered);
  for (int i = 0; i < 4; ++i) Redo(Timeline());
  EXPECT_EQ(Sections(), cut);

  // Delete of a selected section, then Clear: each undone on its own.
  ClickCell(*dlg, 1005, RowFrom(9000), 0);
  Click(*dlg, 1011);
  EXPECT_EQ(Sections().size(), 2u);
  Menu("Clear all sections");
  EXPECT_TRUE(Sections().empty());
  Undo(Timeline());
  EXPECT_EQ(Sections().size(), 2u);
  Undo(Timeline());
  EXPECT_EQ(Sections(), cut);
}

TEST_F(MontageKeep, SectionsComeBackWhenTheSameClipIsOpenedAgain) {
  MarkSection(*dlg, 2000, 4000);
  MarkSection(*dlg, 8000, 9000);
  MarkSection(*dlg, 12000, 15000);
  EditCell(12000, 0, "1");
  EditCell(2000, 0, "3");
  // A beginning point still pending, set with a double-click on the timeline.
  Type(*dlg, 1014, "17000");
  Click(*dlg, 1015);
  QTest::mouseDClick(Timeline(), Qt::LeftButton, {}, QPoint(Timeline()->Bar().XFromPos(17000), 5));
  QApplication::processEvents();
  ASSERT_TRUE(Timeline()->Bar().IsBeginSet());
  const std::vector<Span> before = Sections();
  const int begin = Timeline()->Bar().GetBegin();

  Restart();
  EXPECT_EQ(Sections(), before);
  EXPECT_TRUE(Timeline()->Bar().IsBeginSet());
  EXPECT_EQ(Timeline()->Bar().GetBegin(), begin);
  EXPECT_EQ(dlg->Message(), "3 sections restored from the last session.");
  // What came back is the start of the history: nothing to undo.
  Undo(Timeline());
  EXPECT_EQ(Sections(), before);

  // The clip changed since (touched): nothing comes back.
  fs::last_write_time(src, fs::last_write_time(src) + std::chrono::seconds(2));
  Restart();
  EXPECT_TRUE(Sections().empty());
  EXPECT_FALSE(Timeline()->Bar().IsBeginSet());
  EXPECT_NE(dlg->Message(), "3 sections restored from the last session.");

  // A damaged state file: ignored, no crash.
  MarkSection(*dlg, 1000, 2000);
  for (const auto& f :
       fs::directory_iterator(fs::path(qgetenv("XDG_STATE_HOME").toStdString()) / "vantrel"))
    std::ofstream(f.path(), std::ios::trunc) << "vantrel-sections 1\nsection 1 2";
  Restart();
  EXPECT_TRUE(Sections().empty());
}

TEST_F(MontageKeep, SectionListToCsvAndBackAndBadFilesChangeNothing) {
  MarkSection(*dlg, 2480, 4000);
  MarkSection(*dlg, 8000, 9001);
  EditCell(8000, 0, "1");
  EditCell(2480, 0, "2");
  const std::vector<Span> marked = Sections();
  Menu("Export sections to CSV...");
  EXPECT_EQ(dlg->Message(), "2 sections exported to sections.csv.");
  EXPECT_EQ(Text(csv), "8.000,9.001,1\n2.480,4.000,2\n");

  Menu("Clear all sections");
  Menu("Import sections from CSV...");
  EXPECT_EQ(dlg->Message(), "2 sections imported from sections.csv.");
  EXPECT_EQ(Sections(), marked);

  const std::pair<std::string, std::string> bad[] = {
      {"1,2,1\n5,x,2\n", "sections.csv refused, nothing changed: row 2: the end 'x' is not a time"},
      {"1,2\n2,3\n", "sections.csv refused, nothing changed: sections 1.000-2.000 and 2.000-3.000"},
      {"1,21\n", "sections.csv refused, nothing changed: row 1: the end lies after the clip's end"},
  };
  for (const auto& [text, message] : bad) {
    std::ofstream(csv, std::ios::trunc) << text;
    Menu("Import sections from CSV...");
    EXPECT_TRUE(dlg->Message().startsWith(QString::fromStdString(message)))
        << dlg->Message().toStdString();
    EXPECT_EQ(Sections(), marked);
  }
  // An import is one step.
  std::ofstream(csv, std::ios::trunc) << "10,11,Intro\n";
  Menu("Import sections from CSV...");
  EXPECT_EQ(Sections(), (std::vector<Span>{{10000, 11000, 1}}));
  Menu("Undo");
  EXPECT_EQ(Sections(), marked);
}
