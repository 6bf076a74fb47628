// A main window for the export pane's tests: set up as the program sets it up, with the tape
// question and the file dialog answered by the test and the player window's commands recorded.
// The install folder can point elsewhere (an empty folder: no engine, no skin, no clip lengths).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <vector>

#include "CPlayerWnd.h"
#include "CQmvSel.h"
#include "CVantrelDlg.h"
#include "CXStatic.h"
#include "ClipFile.h"
#include "ExportPane.h"
#include "WinMessage.h"

// Output selector items, in the order they stand.
enum OutputItem { kPrimary = 0, kSVideo = 1, kComposite = 2, kSecondary = 3, kDvTape = 4 };

// WM_PLAYER_COMMAND messages that reach the player window: (wParam, lParam).
class PlayerCommandLog : public QObject {
 public:
  std::vector<std::pair<WPARAM, LPARAM>> commands;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == WinMsgEvent::Type()) {
      auto* m = static_cast<WinMsgEvent*>(e);
      if (m->message == WM_PLAYER_COMMAND && m->wParam != 5)
        commands.emplace_back(m->wParam, m->lParam);
    }
    return false;
  }
};

// Holds back the player window's own position reports to the main window, so that only the
// reports a test sends itself arrive.
class OwnReportsOnly : public QObject {
 public:
  bool sending = false;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    return e->type() == WinMsgEvent::Type() &&
           static_cast<WinMsgEvent*>(e)->message == WM_PLAYER_NOTIFY && !sending;
  }
};

class ExportFixture : public ::testing::Test {
 protected:
  // Builds the window with its libraries from `installFolder` ("" for the program's folder).
  void Open(const std::string& installFolder = "") {
    SetInstallFolder(installFolder);
    dlg = std::make_unique<CVantrelDlg>();
    dlg->showSkinnedAbout = [] {};
    dlg->OnInitDialog();
    // The player window's first not-playing report (500 ms on, sooner on a slow machine) puts
    // the displays to zero: the start-up texts are read before any event is handled.
    startTime = Text(1046);
    startPercent = Text(1050);
    dlg->Export()->askTapeQuestion = [this](const QString& text) {
      questions << text;
      return answerYes;
    };
    dlg->PlayerWindow()->installEventFilter(&log);
    dlg->show();
    QApplication::processEvents();
    PickFunctionExport();
  }
  void SetUp() override { unsetenv("VANTREL_DV_TAPE"); }
  std::string startTime;
  std::string startPercent;
  void TearDown() override {
    if (dlg) {
      dlg->DestroyWindow();
      dlg.reset();
    }
    SetInstallFolder("");
    unsetenv("VANTREL_DV_TAPE");
  }

  void PickItem(int selectorId, int i) {
    auto* sel = qobject_cast<CQmvSel*>(dlg->GetDlgItem(selectorId));
    const QPoint at = sel->Model().ItemRect(i, sel->width()).center();
    QTest::mouseMove(sel, at);
    QTest::mousePress(sel, Qt::LeftButton, {}, at);
    QTest::mouseRelease(sel, Qt::LeftButton, {}, at);
  }
  void PickFunctionExport() { PickItem(1016, 2); }
  void PickOutput(OutputItem item) { PickItem(1044, item); }
  std::string Msg() { return dlg->Message().toStdString(); }
  std::string Text(int id) { return dlg->Static(id)->GetText().toStdString(); }
  // From now on only the test's own reports reach the pane.
  void MuteThePlayerWindowsReports() { dlg->installEventFilter(&ownReports); }
  void Report(WPARAM wp, LPARAM lp) {
    ownReports.sending = true;
    SendMsg(dlg.get(), WM_PLAYER_NOTIFY, wp, lp);
    ownReports.sending = false;
    QApplication::processEvents();
  }
  // Runs the event loop until `done` holds or `ms` pass; returns `done()`.
  template <typename Pred>
  bool WaitFor(Pred done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QTest::qWait(20);
    return done();
  }

  // Runs the event loop until the tape's search and start are over; true when they were within
  // `ms`.
  bool AwaitTapeStart(int ms = 8000) {
    return WaitFor([this] { return !dlg->Export()->IsStarting(); }, ms);
  }

  std::unique_ptr<CVantrelDlg> dlg;
  PlayerCommandLog log;
  OwnReportsOnly ownReports;
  QStringList questions;
  bool answerYes = true;
};
