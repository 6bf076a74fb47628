// The main window: a borderless skinned window with the function selector on the left, the
// controls of the chosen function on the right, the message line and the picture strip.
#pragma once

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

#include "DialogTable.h"
#include "PaneHost.h"
#include "ShellRules.h"
#include "WinMessage.h"

class CQmvButton;
class CQmvSel;
class CXStatic;
class CRoundButton;
class CQmvSld;
class CQmvedit;
class CQmvply;
class SkinnedFrame;
class QtMsgWindow;
class QEventLoop;
class CMsgWindow;
class MontagePane;
class MergePane;
class ExportPane;
class CPlayerWnd;
class SkinModule;
class StaticDisplay;
class QLineEdit;
class QProgressBar;
class QSlider;
class QTreeWidget;
class WinMsgEvent;

class CVantrelDlg : public PaneHost {
  Q_OBJECT

 public:
  explicit CVantrelDlg(QWidget* parent = nullptr);
  ~CVantrelDlg() override;

  // Builds the controls and the engines; returns true.
  bool OnInitDialog();
  // Shows the window and runs until EndDialog; returns its result.
  int DoModal();
  void EndDialog(int result);
  // Tear-down: player window, libraries, preview player, engines, player window object.
  void DestroyWindow();
  // Enter and Escape never close the window.
  void OnOK() {}
  void OnCancel() {}

  // Services for the panes (PaneHost) and for the tests.
  QWidget* GetDlgItem(int id) const override { return m_items.value(id, nullptr); }
  CXStatic* Static(int id) const override;
  CRoundButton* Button(int id) const override;
  QLineEdit* Edit(int id) const override;
  void SetMessage(const QString& text) override;
  QString Message() const;
  void ShowMontagePane(bool show) { ShowPane(Pane::Montage, show); }
  void ShowMergePane(bool show) { ShowPane(Pane::Merge, show); }
  void ShowExportPane(bool show) { ShowPane(Pane::Export, show); }
  int CurrentFunction() const override { return m_nFunction; }
  int OutputCode() const override { return m_nOutput; }
  CQmvedit* MontageEngine() const override { return m_pMontageEdit; }
  CQmvedit* MergeEngine() const override { return m_pMergeEdit; }
  CQmvply* PreviewPlayer() const override { return m_pPreview; }
  CPlayerWnd* PlayerWindow() const override { return m_pPlayerWnd; }
  void* PlayModule() const override { return m_hPlayModule; }
  bool IsPreviewPlaying() const override { return m_bPreviewPlaying; }
  void SetPreviewPlaying(bool playing) override { m_bPreviewPlaying = playing; }
  CMsgWindow* MsgWindow() const override;
  MontagePane* Montage() const { return m_montage.get(); }
  MergePane* Merge() const { return m_merge.get(); }
  ExportPane* Export() const { return m_export.get(); }
  // Opens a clip in Video Montage, as picking the function and Open would.
  void OpenMontageClip(const QString& path);
  // Dropped files (local paths, in the order of the drop).
  void OnDropFiles(const QStringList& files);

  // Window actions tests replace: the skinned About box and opening the maker's page.
  std::function<void()> showSkinnedAbout;
  std::function<void(const QUrl&)> openUrl;
  // What the tear-down did, in order (for tests and the log).
  QStringList teardownTrace;

  static const char* kMakerUrl;

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  // The message map.
  bool OnWinMessage(WinMsgEvent* msg);
  void OnCommand(int id);
  LRESULT OnSelectorPick(WPARAM index, LPARAM text);
  void OnBottomStripClick(LPARAM screenPoint);

  void CreateControls();
  void SetUpStatics();
  void SetUpSelectors();
  void SetUpTitleButtons();
  void SetUpLists();
  void ShowPane(Pane pane, bool show);
  void ShowSkinnedAboutBox();

  QHash<int, QWidget*> m_items;
  std::unique_ptr<SkinModule> m_skin;
  std::unique_ptr<SkinnedFrame> m_frame;
  std::unique_ptr<MontagePane> m_montage;
  std::unique_ptr<MergePane> m_merge;
  std::unique_ptr<ExportPane> m_export;
  QEventLoop* m_loop = nullptr;
  std::unique_ptr<QtMsgWindow> m_msgWnd;
  std::unique_ptr<StaticDisplay> m_display;
  void* m_hPlayModule = nullptr;  // libqmvplyex.so

  CQmvply* m_pPreview = nullptr;
  CQmvedit* m_pMontageEdit = nullptr;
  CQmvedit* m_pMergeEdit = nullptr;
  CPlayerWnd* m_pPlayerWnd = nullptr;

  int m_nFunction = kFunctionNone;
  int m_nOutput = kOutputNone;
  bool m_bPreviewPlaying = false;
  bool m_bDestroyed = false;
  bool m_bEnded = false;
  int m_nResult = 0;
};
