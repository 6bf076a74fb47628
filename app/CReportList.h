// A report list view: rows of cell texts under column titles, single selection, owner-drawn
// through a fill callback (the edited cell of the section list, the picked row of the clip list).
// The list is the store of its texts; sorting is left to the caller.
#pragma once

#include <QColor>
#include <QTreeWidget>
#include <functional>
#include <optional>

class CReportList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CReportList(QWidget* parent = nullptr);

  void InsertColumn(int col, const QString& title, int width);
  int GetItemCount() const { return topLevelItemCount(); }
  QString GetItemText(int row, int col) const;
  void SetItemText(int row, int col, const QString& text);
  // Replaces every row by the given texts.
  void SetRows(const std::vector<std::vector<QString>>& rows);
  // Highlights that row alone (none for -1 or a row past the end).
  void SelectRow(int row);

  // The fill behind a cell, when the owner drawing marks it.
  std::function<std::optional<QColor>(int row, int col)> cellFill;

 signals:
  // NM_CLICK: the clicked row and column (-1, -1 when the click hit no row).
  void CellClicked(int row, int col);
  // LVN_COLUMNCLICK.
  void ColumnClicked(int col);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
};
