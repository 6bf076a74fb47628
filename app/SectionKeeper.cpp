#include "SectionKeeper.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>

#include "CQmvSld.h"
#include "CReportList.h"
#include "PaneHost.h"
#include "SectionCsv.h"
#include "TextFile.h"

namespace {

QString SectionsText(int n) {
  return n == 1 ? QStringLiteral("1 section") : QStringLiteral("%1 sections").arg(n);
}

}  // namespace

SectionKeeper::SectionKeeper(PaneHost& dlg, CQmvSld& timeline, CReportList& list,
                             std::function<void()> restored, std::function<bool()> busy)
    : m_dlg(dlg),
      m_timeline(timeline),
      m_list(list),
      m_restored(std::move(restored)),
      m_busy(std::move(busy)),
      m_menu(std::make_unique<QMenu>()) {
  // A line edit with the focus takes these keys for its own text first.
  QShortcut* undo = m_undoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), &m_dlg);
  QShortcut* redo = m_redoKey =
      new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &m_dlg);
  for (QShortcut* s : {undo, redo}) s->setContext(Qt::WindowShortcut);
  const auto onPane = [this] {
    return m_dlg.CurrentFunction() == kFunctionMontage &&
           qobject_cast<QLineEdit*>(m_dlg.focusWidget()) == nullptr;
  };
  connect(undo, &QShortcut::activated, this, [this, onPane] {
    if (onPane()) Undo();
  });
  connect(redo, &QShortcut::activated, this, [this, onPane] {
    if (onPane()) Redo();
  });

  QAction* undoEntry = m_menu->addAction("Undo", [this] { Undo(); });
  undoEntry->setShortcut(undo->key());
  QAction* redoEntry = m_menu->addAction("Redo", [this] { Redo(); });
  redoEntry->setShortcut(redo->key());
  m_menu->addSeparator();
  m_menu->addAction("Export sections to CSV...", [this] {
    const QString file = pickCsvFile(true);
    if (!file.isEmpty()) m_dlg.SetMessage(ExportCsv(file));
  });
  m_menu->addAction("Import sections from CSV...", [this] {
    const QString file = pickCsvFile(false);
    if (!file.isEmpty()) m_dlg.SetMessage(ImportCsv(file));
  });
  m_menu->addSeparator();
  m_menu->addAction("Clear all sections", [this] { ClearSections(); });
  connect(m_menu.get(), &QMenu::aboutToShow, this, [this, undoEntry, redoEntry] {
    const bool idle = !m_busy();
    undoEntry->setEnabled(idle && m_history.CanUndo());
    redoEntry->setEnabled(idle && m_history.CanRedo());
    for (QAction* a : m_menu->actions())
      if (a != undoEntry && a != redoEntry) a->setEnabled(idle && !m_path.empty());
  });

  pickCsvFile = [this](bool save) {
    const QString filter = "CSV (*.csv);;All files (*)";
    return save ? QFileDialog::getSaveFileName(&m_dlg, "Export sections", QString(), filter)
                : QFileDialog::getOpenFileName(&m_dlg, "Import sections", QString(), filter);
  };

  m_list.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&m_list, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { m_menu->popup(m_list.viewport()->mapToGlobal(at)); });
  // Marks set by double-clicks and keys on the timeline reach the pane in no message of their own.
  m_timeline.installEventFilter(this);
}

SectionKeeper::~SectionKeeper() {
  delete m_undoKey;
  delete m_redoKey;
  m_timeline.removeEventFilter(this);
  m_list.setContextMenuPolicy(Qt::DefaultContextMenu);
}

bool SectionKeeper::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &m_timeline) {
    const QEvent::Type t = event->type();
    if (t == QEvent::MouseButtonDblClick || t == QEvent::MouseButtonRelease ||
        t == QEvent::KeyPress)
      ChangedLater();
  }
  return false;
}

void SectionKeeper::ChangedLater() {
  // After the timeline has handled the event; dropped with this object.
  QMetaObject::invokeMethod(
      this, [this] { Changed(); }, Qt::QueuedConnection);
}

int SectionKeeper::Opened(const std::string& path, int32_t lengthMs) {
  m_path = path;
  const StoreLoad kept = m_store.Load(path, lengthMs);
  if (kept.state) m_timeline.Restore(*kept.state);
  m_history.Reset(m_timeline.Bar().State());
  return kept.state ? static_cast<int>(kept.state->sections.size()) : 0;
}

void SectionKeeper::Changed() {
  if (m_path.empty()) return;
  if (m_history.Commit(m_timeline.Bar().State())) m_store.Save(m_path, m_history.Current());
}

void SectionKeeper::Put(const MarksState& state) {
  m_timeline.Restore(state);
  m_store.Save(m_path, state);
  if (m_restored) m_restored();
}

bool SectionKeeper::Undo() {
  if (m_path.empty() || m_busy()) return false;
  Changed();  // a mark the pane has not heard of yet is a step of its own
  const auto state = m_history.Undo();
  if (state) Put(*state);
  return state.has_value();
}

bool SectionKeeper::Redo() {
  if (m_path.empty() || m_busy()) return false;
  Changed();  // a change since the undo drops the redo steps
  const auto state = m_history.Redo();
  if (state) Put(*state);
  return state.has_value();
}

void SectionKeeper::ClearSections() {
  if (m_path.empty() || m_busy()) return;
  MarksState state = m_timeline.Bar().State();
  state.sections.clear();
  state.splitState = state.split1 = state.split2 = 0;
  if (m_history.Commit(state)) Put(state);
}

QString SectionKeeper::ExportCsv(const QString& file) {
  const CPeriodBar& bar = m_timeline.Bar();
  if (bar.GetCount() == 0) return "No sections to export.";
  std::vector<PERIOD> sections;
  for (int i = 0; i < bar.GetCount(); ++i) sections.push_back(*bar.GetPeriod(i));
  const std::string error = WriteTextFileAtomic(file.toStdString(), SectionsToCsv(sections));
  const QString name = QFileInfo(file).fileName();
  if (!error.empty())
    return QString("Cannot write %1: %2").arg(name, QString::fromStdString(error));
  return QString("%1 exported to %2.").arg(SectionsText(bar.GetCount()), name);
}

QString SectionKeeper::ImportCsv(const QString& file) {
  const QString name = QFileInfo(file).fileName();
  if (m_path.empty() || m_busy()) return {};
  const auto text = ReadTextFile(file.toStdString(), 4u << 20);
  if (!text) return QString("Cannot read %1.").arg(name);
  const int32_t length = m_timeline.Bar().GetMax();
  CsvSections csv = SectionsFromCsv(*text, length);
  MarksState state;
  state.sections = std::move(csv.sections);
  std::string problem = csv.error;
  if (problem.empty()) problem = FitProblem(state, length);
  if (!problem.empty())
    return QString("%1 refused, nothing changed: %2.").arg(name, QString::fromStdString(problem));
  Changed();
  if (m_history.Commit(state)) Put(state);
  return QString("%1 imported from %2.")
      .arg(SectionsText(static_cast<int>(state.sections.size())), name);
}

QString SectionKeeper::CameBackText(int count) {
  return QString("%1 restored from the last session.").arg(SectionsText(count));
}
