// The Video Export pane's behaviour in the main window: output choice, Start and Stop through the
// player window or the DV tape, and the position displays.
#pragma once

#include "WinMessage.h"

class CVantrelDlg;

class ExportPane {
 public:
  explicit ExportPane(CVantrelDlg& dlg);
  ~ExportPane();

  bool OnCommand(int id);
  // WM_PLAYER_NOTIFY and WM_GRAPH_NOTIFY.
  LRESULT OnMessage(uint32_t msg, WPARAM wp, LPARAM lp);

 private:
  CVantrelDlg& m_dlg;
};
