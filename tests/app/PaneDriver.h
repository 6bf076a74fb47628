// Drives the panes of a main window as a user would: types into edits, clicks buttons and list
// cells.
#pragma once

#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include "CReportList.h"
#include "CVantrelDlg.h"
#include "CXStatic.h"
#include "ClipGen.h"

inline void Type(CVantrelDlg& dlg, int editId, const QString& text) {
  QLineEdit* e = dlg.Edit(editId);
  e->clear();
  QTest::keyClicks(e, text);
}

inline void Click(CVantrelDlg& dlg, int buttonId) {
  QTest::mouseClick(dlg.GetDlgItem(buttonId), Qt::LeftButton);
}

inline void ClickCell(CVantrelDlg& dlg, int listId, int row, int col) {
  auto* list = qobject_cast<CReportList*>(dlg.GetDlgItem(listId));
  const QRect r = list->visualRect(list->model()->index(row, col));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

inline void ClickColumnTitle(CVantrelDlg& dlg, int listId, int col) {
  auto* list = qobject_cast<CReportList*>(dlg.GetDlgItem(listId));
  emit list->ColumnClicked(col);
}

inline QString CellText(CVantrelDlg& dlg, int listId, int row, int col) {
  return qobject_cast<CReportList*>(dlg.GetDlgItem(listId))->GetItemText(row, col);
}

// Marks a section on the montage timeline with Goto and Add Mark, as a user would.
inline void MarkSection(CVantrelDlg& dlg, int from, int to) {
  for (int pos : {from, to}) {
    Type(dlg, 1014, QString::number(pos));
    Click(dlg, 1015);
    Click(dlg, 1013);
  }
}

// A small clip for the panes: 160x120 at 25 fps, a key frame every second.
inline clipgen::ClipSpec SmallClip(int ms) {
  clipgen::ClipSpec s;
  s.durationMs = ms;
  s.width = 160;
  s.height = 120;
  s.fpsNum = 25;
  s.fpsDen = 1;
  s.keyIntervalMs = 1000;
  return s;
}

// Frame code of the picture on the preview screen (-1 when none can be read).
inline int ShownCode(CXStatic* screen) {
  const QImage img = screen->grab().toImage().convertToFormat(QImage::Format_RGB32);
  return clipgen::ReadFrameCode(img.constBits(), img.width(), img.height(),
                                static_cast<int>(img.bytesPerLine()));
}
