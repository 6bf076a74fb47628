// A main window set up as the program sets it up, on the offscreen platform, with the About box
// and the web page replaced by recorders.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "CQmvSel.h"
#include "CVantrelDlg.h"
#include "WinMessage.h"

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg = std::make_unique<CVantrelDlg>();
    dlg->showSkinnedAbout = [this] { ++aboutShown; };
    dlg->openUrl = [this](const QUrl& url) { openedUrls << url.toString(); };
    dlg->OnInitDialog();
    dlg->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    dlg->DestroyWindow();
    dlg.reset();
  }

  // Clicks item i of a selector as a user would: move onto it, press, release.
  void PickItem(int selectorId, int i) {
    auto* sel = qobject_cast<CQmvSel*>(dlg->GetDlgItem(selectorId));
    const QPoint at = sel->Model().ItemRect(i, sel->width()).center();
    QTest::mouseMove(sel, at);
    QTest::mousePress(sel, Qt::LeftButton, {}, at);
    QTest::mouseRelease(sel, Qt::LeftButton, {}, at);
  }
  void PickFunction(int function) {
    // Items: 0 Clip Merge, 1 Video Montage, 2 Video Export.
    PickItem(1016, function == kFunctionMerge ? 0 : function == kFunctionMontage ? 1 : 2);
  }
  bool Visible(int id) { return dlg->GetDlgItem(id)->isVisibleTo(dlg.get()); }

  std::unique_ptr<CVantrelDlg> dlg;
  int aboutShown = 0;
  QStringList openedUrls;
};
