#include "ExportPane.h"

#include "CVantrelDlg.h"

ExportPane::ExportPane(CVantrelDlg& dlg) : m_dlg(dlg) {}

ExportPane::~ExportPane() = default;

bool ExportPane::OnCommand(int) {
  return false;
}

LRESULT ExportPane::OnMessage(uint32_t, WPARAM, LPARAM) {
  return 0;
}
