// What the panes reach of the main window: its controls by id, the message line, the function
// and output chosen, and the engines and players it holds. It is the window itself as well: the
// parent of the panes' dialogs and shortcuts, and where their messages are posted. The main
// window implements it; the panes know nothing more of it.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "DialogTable.h"
#include "ShellRules.h"

class CMsgWindow;
class CPlayerWnd;
class CQmvedit;
class CQmvply;
class CRoundButton;
class CXStatic;
class QLineEdit;

class PaneHost : public QWidget {
 public:
  using QWidget::QWidget;

  virtual QWidget* GetDlgItem(int id) const = 0;
  virtual CXStatic* Static(int id) const = 0;
  virtual CRoundButton* Button(int id) const = 0;
  virtual QLineEdit* Edit(int id) const = 0;
  virtual void SetMessage(const QString& text) = 0;
  virtual int CurrentFunction() const = 0;
  virtual int OutputCode() const = 0;
  virtual CQmvedit* MontageEngine() const = 0;
  virtual CQmvedit* MergeEngine() const = 0;
  virtual CQmvply* PreviewPlayer() const = 0;
  virtual CPlayerWnd* PlayerWindow() const = 0;
  // The window's own load of libqmvplyex.so (null when it is missing).
  virtual void* PlayModule() const = 0;
  virtual bool IsPreviewPlaying() const = 0;
  virtual void SetPreviewPlaying(bool playing) = 0;
  // The window the engines and the preview player post to.
  virtual CMsgWindow* MsgWindow() const = 0;

  // The open-file dialog of Browse and Add Clip: a chosen path, or empty. Tests replace it.
  std::function<QString()> pickClipFile;
};
