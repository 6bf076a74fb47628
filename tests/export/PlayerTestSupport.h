// Pieces the player window's tests share: an owner window that records the position reports it
// gets, and event-loop waits.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <functional>
#include <vector>

#include "QtEventLoop.h"
#include "WinMessage.h"

namespace playertest {

// Stands in for the main window: keeps every WM_PLAYER_NOTIFY with the time it arrived.
class Owner : public QWidget {
 public:
  struct Report {
    WPARAM playing;
    LPARAM position;
    qint64 atMs;
  };

  Owner() { clock_.start(); }

  std::vector<Report> reports;

  int Count() const { return static_cast<int>(reports.size()); }
  const Report& Last() const { return reports.back(); }

 protected:
  bool event(QEvent* e) override {
    if (e->type() == WinMsgEvent::Type()) {
      auto* msg = static_cast<WinMsgEvent*>(e);
      if (msg->message == WM_PLAYER_NOTIFY)
        reports.push_back({msg->wParam, msg->lParam, clock_.elapsed()});
      return true;
    }
    return QWidget::event(e);
  }

 private:
  QElapsedTimer clock_;
};

using testutil::RunFor;
using testutil::RunUntil;

}  // namespace playertest
