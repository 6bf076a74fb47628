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
    WPARAM playing;  // the kind: 1 playing, 0 not
    LPARAM position;
    qint64 atMs;
    unsigned generation;
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
        reports.push_back({msg->wParam & 0xFFFFu, msg->lParam, clock_.elapsed(),
                           static_cast<unsigned>(msg->wParam >> 16 & 0xFFFFu)});
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
