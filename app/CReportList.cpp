#include "CReportList.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "Gdi.h"

namespace {

// Owner drawing: each cell's text single-line, vertically centred, unclipped; a marked cell is
// filled first and its text drawn over the fill.
class CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(CReportList* list) : QStyledItemDelegate(list), m_list(list) {}

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int row = index.row();
    const int col = index.column();
    std::optional<QColor> fill;
    if (m_list->cellFill) fill = m_list->cellFill(row, col);
    p->save();
    if (fill) {
      p->fillRect(option.rect, *fill);
    } else if (option.state & QStyle::State_Selected) {
      p->fillRect(option.rect, option.palette.highlight());
    }
    p->setPen(!fill && (option.state & QStyle::State_Selected)
                  ? option.palette.highlightedText().color()
                  : option.palette.text().color());
    const QRect text = option.rect.adjusted(3, 0, -1, 0);
    p->drawText(text, DtToQtFlags(DT_SINGLELINE | DT_VCENTER | DT_NOCLIP | DT_NOPREFIX),
                index.data().toString());
    p->restore();
  }

 private:
  CReportList* m_list;
};

}  // namespace

CReportList::CReportList(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setItemDelegate(new CellDelegate(this));
  setColumnCount(0);
  header()->setSectionsClickable(true);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  connect(header(), &QHeaderView::sectionClicked, this, &CReportList::ColumnClicked);
}

void CReportList::InsertColumn(int col, const QString& title, int width) {
  if (columnCount() <= col) setColumnCount(col + 1);
  headerItem()->setText(col, title);
  headerItem()->setTextAlignment(col, Qt::AlignLeft | Qt::AlignVCenter);
  setColumnWidth(col, width);
}

QString CReportList::GetItemText(int row, int col) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(col) : QString();
}

void CReportList::SetItemText(int row, int col, const QString& text) {
  if (QTreeWidgetItem* item = topLevelItem(row)) item->setText(col, text);
}

void CReportList::SetRows(const std::vector<std::vector<QString>>& rows) {
  // Keeps the items that exist, so a repaint does not lose the scroll position.
  while (topLevelItemCount() > static_cast<int>(rows.size()))
    delete takeTopLevelItem(topLevelItemCount() - 1);
  while (topLevelItemCount() < static_cast<int>(rows.size())) addTopLevelItem(new QTreeWidgetItem);
  for (size_t r = 0; r < rows.size(); ++r) {
    QTreeWidgetItem* item = topLevelItem(static_cast<int>(r));
    for (size_t c = 0; c < rows[r].size(); ++c) {
      if (item->text(static_cast<int>(c)) != rows[r][c])
        item->setText(static_cast<int>(c), rows[r][c]);
    }
  }
  viewport()->update();
}

void CReportList::SelectRow(int row) {
  QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
  if (item == nullptr) {
    clearSelection();
    return;
  }
  if (!item->isSelected() || selectedItems().size() != 1) {
    clearSelection();
    item->setSelected(true);
  }
}

void CReportList::mousePressEvent(QMouseEvent* e) {
  QTreeWidget::mousePressEvent(e);
  if (e->button() != Qt::LeftButton) return;
  const QModelIndex index = indexAt(e->position().toPoint());
  if (index.isValid())
    emit CellClicked(index.row(), index.column());
  else
    emit CellClicked(-1, -1);
  viewport()->update();
}
