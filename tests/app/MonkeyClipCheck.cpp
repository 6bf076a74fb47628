// The clip-list side of the monkey's checks, in a file of its own: the clip list and the section
// list name their columns alike.
#include <cstdint>
#include <string>

#include "CReportList.h"
#include "CVantrelDlg.h"
#include "CXStatic.h"
#include "ClipList.h"
#include "MergePane.h"

std::string CheckClipList(CVantrelDlg& dlg) {
  const ClipList& clips = dlg.Merge()->List();
  uint64_t sum = 0;
  for (const auto& row : clips.Rows()) sum += row.durationMs;
  if (sum != clips.TotalLengthMs()) return "total length is not the sum of the rows";
  if (dlg.Static(1039)->GetText().toStdString() != ClipList::DurationText(sum))
    return "total length label " + dlg.Static(1039)->GetText().toStdString();
  auto* view = qobject_cast<CReportList*>(dlg.GetDlgItem(1035));
  if (view->GetItemCount() != clips.Count()) return "clip list view out of step";
  for (int r = 0; r < clips.Count(); ++r)
    for (int c = 0; c < kClipColumns; ++c)
      if (view->GetItemText(r, c).toStdString() != clips.Text(r, c))
        return "clip list view cell out of step";
  return std::string();
}
