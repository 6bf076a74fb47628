// A window that records the messages it receives, with the picked text of selector picks.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

#include "WinMessage.h"

struct RecordedMsg {
  uint32_t message;
  WPARAM wParam;
  LPARAM lParam;
  QString text;  // WM_SELECTOR_PICK only: the text behind lParam, read during the call
};

class MsgRecorder : public QObject {
 public:
  std::vector<RecordedMsg> msgs;
  std::function<void(const WinMsgEvent&)> onMessage;

  bool event(QEvent* e) override {
    if (e->type() != WinMsgEvent::Type()) return QObject::event(e);
    auto* m = static_cast<WinMsgEvent*>(e);
    RecordedMsg r{m->message, m->wParam, m->lParam, {}};
    if (m->message == WM_SELECTOR_PICK) r.text = *reinterpret_cast<const QString*>(m->lParam);
    msgs.push_back(r);
    if (onMessage) onMessage(*m);
    return true;
  }
};
