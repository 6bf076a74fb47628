#include "MontageKeys.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

MontageKeys::MontageKeys(QWidget* pane, std::function<void(MontageKey)> handler) : QObject(pane) {
  struct Binding {
    QKeyCombination keys;
    MontageKey key;
  };
  const Binding bindings[] = {
      {Qt::Key_Space, MontageKey::PlayPause},
      {Qt::SHIFT | Qt::Key_Space, MontageKey::PlayMontage},
      {Qt::Key_Left, MontageKey::FrameBack},
      {Qt::Key_Right, MontageKey::FrameForward},
      {Qt::SHIFT | Qt::Key_Left, MontageKey::KeyBack},
      {Qt::SHIFT | Qt::Key_Right, MontageKey::KeyForward},
      {Qt::CTRL | Qt::Key_Left, MontageKey::MarkBack},
      {Qt::CTRL | Qt::Key_Right, MontageKey::MarkForward},
      {Qt::Key_Home, MontageKey::Start},
      {Qt::Key_End, MontageKey::End},
      {Qt::Key_I, MontageKey::SetBegin},
      {Qt::Key_O, MontageKey::SetEnd},
      {Qt::Key_Delete, MontageKey::Delete},
  };
  for (const Binding& b : bindings) {
    // A shortcut of the whole window, but only while the pane is visible; a line edit with the
    // focus claims these keys for its text before any shortcut sees them.
    auto* shortcut = new QShortcut(QKeySequence(b.keys), pane);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(true);
    const MontageKey key = b.key;
    connect(shortcut, &QShortcut::activated, this, [handler, key] { handler(key); });
  }
}
