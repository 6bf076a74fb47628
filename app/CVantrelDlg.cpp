#include "CVantrelDlg.h"

#include <dlfcn.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSlider>

#include "AboutBoxes.h"
#include "AppIcon.h"
#include "CPlayerWnd.h"
#include "CQmvButton.h"
#include "CQmvSel.h"
#include "CQmvSld.h"
#include "CQmvedit.h"
#include "CQmvply.h"
#include "CReportList.h"
#include "CRoundButton.h"
#include "CXStatic.h"
#include "CellFont.h"
#include "ClipFile.h"
#include "ClipList.h"
#include "DbgLog.h"
#include "ExportPane.h"
#include "Gdi.h"
#include "MergePane.h"
#include "MontagePane.h"
#include "QtMsgWindow.h"
#include "SectionList.h"
#include "SkinApi.h"
#include "SkinModule.h"
#include "SkinnedFrame.h"
#include "StaticDisplay.h"

const char* CVantrelDlg::kMakerUrl = "https://www.vantrel.com/";

namespace {

constexpr COLORREF kPaneBk = 0xEAFDFF;  // (255, 253, 234)

struct StaticSetup {
  int id;
  const char* text;
  COLORREF bk;
  COLORREF fg;
  const char* face;
  int height;
  bool bold;
  bool underline;
};

// Every text control of the window: initial text, colours and font.
constexpr StaticSetup kStatics[] = {
    {1006, "", kPaneBk, 0xD5797D, "Tohoma", 22, true, true},
    {1024, "Clip Length:", kPaneBk, 0x030000, "Tohoma", 14, false, false},
    {1040, "Message:", 0x000000, 0x1780D6, "Arial", 16, true, false},
    {1041, "Select function from left pane to start your work.", 0x000000, 0xD2D618, "Tohoma", 16,
     false, false},
    {1038, "Total Length:", kPaneBk, 0x030000, "Tohoma", 14, false, false},
    {1039, "00:00:00", kPaneBk, 0x0300FF, "Tohoma", 14, false, false},
    {1028, "0:00:00(00000000 mili-sec)", kPaneBk, 0x0300EA, "Tohoma", 14, false, false},
    {1023, "100%", kPaneBk, 0x030000, "Tohoma", 14, false, false},
    {1050, "100%", kPaneBk, 0x030000, "Tohoma", 14, false, false},
    {1046, "00:00:00", kPaneBk, 0x030000, "Tohoma", 14, false, false},
    {1037, "100%", kPaneBk, 0x030000, "Tohoma", 14, false, false},
};

}  // namespace

CVantrelDlg::CVantrelDlg(QWidget* parent) : PaneHost(parent, Qt::Window | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the frame paints the whole background
  setAcceptDrops(true);
  InstallFontSubstitutes();
  QFont dialogFont("Tahoma");
  dialogFont.setPointSize(8);
  setFont(dialogFont);
  resize(DluX(kDialogWidthDlu), DluY(kDialogHeightDlu));
  setWindowIcon(MakeAppIcon());

  m_skin = std::make_unique<SkinModule>();
  m_skin->LoadFromInstallFolder();  // stays unskinned when the library is missing
  const std::string play = InstallFolder() + "/libqmvplyex.so";
  m_hPlayModule = dlopen(play.c_str(), RTLD_NOW | RTLD_LOCAL);
  m_msgWnd = std::make_unique<QtMsgWindow>(this);

  showSkinnedAbout = [this] { ShowSkinnedAboutBox(); };
  openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  pickClipFile = [this] {
    if (m_nFunction == kFunctionExport && m_export) return m_export->BrowseDialog();
    return QFileDialog::getOpenFileName(
        nullptr, QString(), "*.wmv;*.qmv",
        "Windows Media File (*.wmv);;Kolvane video File (*.qmv);;All files (*)");
  };
}

CMsgWindow* CVantrelDlg::MsgWindow() const {
  return m_msgWnd.get();
}

CVantrelDlg::~CVantrelDlg() {
  DestroyWindow();
}

CXStatic* CVantrelDlg::Static(int id) const {
  return qobject_cast<CXStatic*>(GetDlgItem(id));
}

CRoundButton* CVantrelDlg::Button(int id) const {
  return qobject_cast<CRoundButton*>(GetDlgItem(id));
}

QLineEdit* CVantrelDlg::Edit(int id) const {
  return qobject_cast<QLineEdit*>(GetDlgItem(id));
}

void CVantrelDlg::SetMessage(const QString& text) {
  if (CXStatic* line = Static(1041)) line->SetText(text);
}

QString CVantrelDlg::Message() const {
  CXStatic* line = Static(1041);
  return line ? line->GetText() : QString();
}

void CVantrelDlg::CreateControls() {
  for (const CtrlDef& def : kMainControls) {
    QWidget* w = nullptr;
    switch (def.kind) {
      case CtrlKind::TitleButton: {
        auto* b = new CQmvButton(this);
        b->setToolTip(QString());
        w = b;
        break;
      }
      case CtrlKind::Picture:
      case CtrlKind::Label:
        w = new CXStatic(this);
        break;
      case CtrlKind::Selector:
        w = new CQmvSel(this);
        break;
      case CtrlKind::GroupBox: {
        auto* g = new QGroupBox(this);
        g->setAttribute(Qt::WA_TransparentForMouseEvents);
        w = g;
        break;
      }
      case CtrlKind::Edit:
      case CtrlKind::NumberEdit: {
        auto* e = new QLineEdit(QString::fromLatin1(def.text), this);
        if (def.kind == CtrlKind::NumberEdit)
          e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        e->setFrame(true);
        w = e;
        break;
      }
      case CtrlKind::RoundButton:
        w = new CRoundButton(QString::fromLatin1(def.text), this);
        break;
      case CtrlKind::Timeline:
        w = new CQmvSld(this);
        break;
      case CtrlKind::List:
        w = new CReportList(this);
        break;
      case CtrlKind::Progress: {
        auto* p = new QProgressBar(this);
        p->setTextVisible(false);
        p->setRange(0, 100);
        p->setValue(0);
        w = p;
        break;
      }
      case CtrlKind::Slider: {
        auto* s = new QSlider(Qt::Horizontal, this);
        s->setTickPosition(QSlider::NoTicks);
        // The export slider sits on the pane's cream, not on the window's default grey.
        QPalette pal = s->palette();
        pal.setColor(QPalette::Window, ToQColor(kPaneBk));
        s->setPalette(pal);
        s->setAutoFillBackground(true);
        w = s;
        break;
      }
    }
    w->setGeometry(DluRect(def.x, def.y, def.w, def.h));
    if (def.id != -1) {
      SetCtrlId(w, def.id);
      w->setObjectName(QString("ctrl%1").arg(def.id));
      m_items.insert(def.id, w);
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      const int id = def.id;
      connect(b, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    }
  }
}

bool CVantrelDlg::OnInitDialog() {
  CreateControls();

  // Preview player: draws into the preview screen, reports to this window.
  m_pPreview = new CQmvply;
  m_pPreview->SetVideoWnd(GetDlgItem(1007));
  m_pPreview->Init();
  m_pPreview->SetNotifyWnd(m_msgWnd.get());

  // Montage engine: its frames go to the preview screen.
  m_display = std::make_unique<StaticDisplay>(Static(1007));
  m_pMontageEdit = new CQmvedit;
  m_pMontageEdit->Init();
  m_pMontageEdit->SetDispWnd(m_display.get());
  m_pMontageEdit->SetNotifyWnd(m_msgWnd.get());

  m_pMergeEdit = new CQmvedit;
  m_pMergeEdit->Init();
  m_pMergeEdit->SetNotifyWnd(m_msgWnd.get());

  m_pPlayerWnd = new CPlayerWnd(this);
  m_pPlayerWnd->hide();

  ShowMontagePane(false);
  m_nFunction = kFunctionNone;
  ShowMergePane(false);
  ShowExportPane(false);

  m_frame = std::make_unique<SkinnedFrame>(this, m_skin.get());
  m_frame->SetCaption(SkinnedFrame::Caption::AtPoint, "Vantrel");
  m_frame->SetCorner(SkinnedFrame::Corner::Skin);
  m_frame->ApplyShape();

  SetUpTitleButtons();

  // Centred on the screen it opens on.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect avail = screen->availableGeometry();
    move(avail.center() - QPoint(width() / 2, height() / 2));
  }

  auto* timeline = qobject_cast<CQmvSld*>(GetDlgItem(1002));
  timeline->SetOwnerWnd(this);
  const QRect tr = timeline->geometry();
  timeline->PlaceBar(tr.left(), tr.top(), tr.right() + 1, tr.bottom() + 1);

  SetUpStatics();
  SetUpSelectors();
  setWindowTitle("Vantrel");
  SetUpLists();
  GetDlgItem(1017)->setToolTip("Visit the Vantrel web site: www.vantrel.com");

  m_montage = std::make_unique<MontagePane>(*this);
  m_merge = std::make_unique<MergePane>(*this);
  m_export = std::make_unique<ExportPane>(*this);
  connect(qobject_cast<QSlider*>(GetDlgItem(1045)), &QSlider::sliderReleased, this, [this] {
    if (m_export && !m_bDestroyed) m_export->OnSliderReleased();
  });
  return true;
}

void CVantrelDlg::SetUpTitleButtons() {
  auto getBut = m_skin->Get<GetButIdFn>(kGetButId);
  if (!getBut) return;
  struct TitleButton {
    int id;
    int skinIndex;
  };
  for (const TitleButton tb : {TitleButton{1000, kSkinButQuit}, TitleButton{1001, kSkinButMinimize},
                               TitleButton{1008, kSkinButSystem}}) {
    auto* b = qobject_cast<CQmvButton*>(GetDlgItem(tb.id));
    auto pix = [&](int state) { return m_skin->Pixmap(getBut(tb.skinIndex, state) & 0xFFFF); };
    b->SetBitmap(CQmvButton::Normal, pix(kSkinStateNormal));
    b->SetBitmap(CQmvButton::Pressed, pix(kSkinStatePressed));
    b->SetBitmap(CQmvButton::Hover, pix(kSkinStateHover));
    b->SetBitmap(CQmvButton::Disabled, pix(kSkinStateDisabled));
    b->SetBitmap(CQmvButton::Hot, pix(kSkinStateHot));
    b->SizeToContent();
  }
  GetDlgItem(1000)->setToolTip("Quit");
  GetDlgItem(1001)->setToolTip("Minimize");
}

void CVantrelDlg::SetUpStatics() {
  for (const StaticSetup& s : kStatics) {
    CXStatic* st = Static(s.id);
    if (!st) continue;
    st->SetTextMode(true);
    st->SetDrawRect(QRect(0, 0, st->width(), st->height()));
    st->SetFormat(DT_SINGLELINE | DT_VCENTER);
    st->SetBkColor(s.bk);
    st->SetTextColor(s.fg);
    st->SetTextFont(s.face, s.height, s.bold, false, s.underline);
    st->SetText(QString::fromLatin1(s.text));
  }
  // The two skin pictures, stretched over their controls; the strip reports clicks here.
  auto getBmp = m_skin->Get<GetBmpIdFn>(kGetBmpId);
  for (const int id : {1018, 1017}) {
    CXStatic* st = Static(id);
    st->SetTextMode(false);
    st->SetPatternMode(false);
    st->SetBkColor(kPaneBk);
    st->SetDrawRect(QRect(0, 0, st->width(), st->height()));
    if (getBmp) st->LoadPicture(m_skin->Bitmap(getBmp(id == 1018 ? 1 : 2)), false);
  }
  Static(1017)->SetNotifyWnd(this);
  // The preview screen: near-black under the video.
  CXStatic* screen = Static(1007);
  screen->SetTextMode(false);
  screen->SetPatternMode(false);
  screen->SetBkColor(0x000002);
  screen->SetDrawRect(QRect(0, 0, screen->width(), screen->height()));
}

void CVantrelDlg::SetUpSelectors() {
  auto* fn = qobject_cast<CQmvSel*>(GetDlgItem(1016));
  fn->SetNotifyWnd(this);
  fn->SetBkColor(kPaneBk);
  fn->SetTextColor(0x0A0C0C, 0x0000FF);
  fn->CreateFont("Sylfaen", 16);
  for (const char* item : {"Clip Merge", "Video Montage", "Video Export"}) fn->AddItem(item);
  fn->SetItemGap(14);
  fn->SetMargins(8, 8);
  fn->SetBorder(false, 0xC0C0C0);
  fn->SetFill(false, RGB(255, 0, 0), RGB(0, 255, 0));

  auto* out = qobject_cast<CQmvSel*>(GetDlgItem(1044));
  out->SetNotifyWnd(this);
  out->SetBkColor(kPaneBk);
  out->SetTextColor(0x0A0C0C, 0x0CFF15);
  out->CreateFont("Tohoma", 14);
  for (const char* item : {"Primary Mornitor", "S-Video", "Composite Video", "Secondary Mornitor",
                           "Digital DV Tape(Camcorder)"})
    out->AddItem(item);
  out->SetItemGap(6);
  out->SetMargins(10, 2);
  out->SetFill(true, 0xEBF7DC, 0xFFCFC4);
  out->SetBorder(true, 0xC0C0C0);
  out->SetTextFormat(0x24);
}

void CVantrelDlg::SetUpLists() {
  auto* sections = qobject_cast<CReportList*>(GetDlgItem(1005));
  for (int c = 0; c < kSectionListColumnCount; ++c)
    sections->InsertColumn(c, kSectionListColumns[c].title, kSectionListColumns[c].width);
  auto* clips = qobject_cast<CReportList*>(GetDlgItem(1035));
  for (int c = 0; c < kClipColumns; ++c)
    clips->InsertColumn(c, kClipColumnTitles[c], kClipColumnWidths[c]);
}

void CVantrelDlg::ShowPane(Pane pane, bool show) {
  for (const CtrlDef& def : kMainControls) {
    if (def.pane != pane) continue;
    if (QWidget* w = GetDlgItem(def.id)) w->setVisible(show);
  }
}

int CVantrelDlg::DoModal() {
  show();
  if (!m_bEnded) {
    QEventLoop loop;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
  }
  DestroyWindow();
  hide();
  return m_nResult;
}

void CVantrelDlg::EndDialog(int result) {
  m_bEnded = true;
  m_nResult = result;
  if (m_loop) m_loop->exit(result);
}

void CVantrelDlg::DestroyWindow() {
  if (m_bDestroyed) return;
  m_bDestroyed = true;
  // A job still running dispatches messages from inside this call's caller; its engines must
  // outlive it, so tear-down waits for it to end (Exit then stops the copy).
  // A recording still running leaves the camcorder stopped, not recording on its own.
  if (m_export) m_export->ReleaseTapeIfRecording();
  SendMsg(m_pPlayerWnd, WM_PLAYER_COMMAND, 5, 0);
  teardownTrace << "player window shut down";
  m_frame.reset();
  m_skin->Free();
  teardownTrace << "skin freed";
  if (m_hPlayModule) {
    dlclose(m_hPlayModule);
    m_hPlayModule = nullptr;
    teardownTrace << "playback library freed";
  }
  if (m_pPreview) {
    if (m_bPreviewPlaying) m_pPreview->Stop();
    m_pPreview->Exit();
    delete m_pPreview;
    m_pPreview = nullptr;
    teardownTrace << "preview player exited";
  }
  if (m_pMontageEdit) {
    m_pMontageEdit->Exit();
    delete m_pMontageEdit;
    m_pMontageEdit = nullptr;
    teardownTrace << "montage engine exited";
  }
  if (m_pMergeEdit) {
    m_pMergeEdit->Exit();
    delete m_pMergeEdit;
    m_pMergeEdit = nullptr;
    teardownTrace << "merge engine exited";
  }
  delete m_pPlayerWnd;
  m_pPlayerWnd = nullptr;
  teardownTrace << "player window deleted";
  m_montage.reset();
  m_merge.reset();
  m_export.reset();
}

bool CVantrelDlg::event(QEvent* e) {
  if (e->type() == WinMsgEvent::Type()) {
    OnWinMessage(static_cast<WinMsgEvent*>(e));
    return true;
  }
  return QWidget::event(e);
}

bool CVantrelDlg::OnWinMessage(WinMsgEvent* msg) {
  if (m_bDestroyed) return false;
  switch (msg->message) {
    case WM_SELECTOR_PICK:
      msg->result = OnSelectorPick(msg->wParam, msg->lParam);
      return true;
    case WM_LBUTTONUP:
      if (msg->wParam == 100) OnBottomStripClick(msg->lParam);
      return true;
    case WM_SYSCOMMAND:
      if ((msg->wParam & 0xFFF0) == 0x10) ShowPlainAboutBox(this);
      if ((msg->wParam & 0xFFF0) == 0xF020) showMinimized();  // SC_MINIMIZE
      return true;
    case WM_TIMELINE_POS:
    case WM_TIMELINE_CHANGED:
    case WM_KEYFRAMES_READY:
    case WM_FRAME_READY:
      if (m_montage) msg->result = m_montage->OnMessage(msg->message, msg->wParam, msg->lParam);
      return true;
    case WM_EDIT_PROGRESS:
      if (m_montage && m_montage->IsRunning())
        m_montage->OnMessage(msg->message, msg->wParam, msg->lParam);
      else if (m_merge)
        m_merge->OnMessage(msg->message, msg->wParam, msg->lParam);
      return true;
    case WM_PREVIEW_NOTIFY:
      // The player is Clip Merge's or Video Montage's; each pane drops reports of the other's.
      if (m_merge) m_merge->OnMessage(msg->message, msg->wParam, msg->lParam);
      if (m_montage) m_montage->OnMessage(msg->message, msg->wParam, msg->lParam);
      return true;
    case WM_PLAYER_NOTIFY:
    case WM_GRAPH_NOTIFY:
      if (m_export) msg->result = m_export->OnMessage(msg->message, msg->wParam, msg->lParam);
      return true;
    default:
      return false;
  }
}

void CVantrelDlg::OnCommand(int id) {
  if (m_bDestroyed) return;
  switch (id) {
    case 1000:
      EndDialog(1);
      return;
    case 1001:
      SendMsg(this, WM_SYSCOMMAND, 0xF020, 0);
      return;
    case 1008:
      if (showSkinnedAbout) showSkinnedAbout();
      return;
    default:
      break;
  }
  // Both engines report progress on one message, and a job run from the other one's dispatch
  // would take its reports: one job at a time.
  const bool jobRunning =
      (m_montage && m_montage->IsRunning()) || (m_merge && m_merge->IsRunning());
  if (jobRunning && (id == 1021 || id == 1034)) return;
  if (m_montage && m_montage->OnCommand(id)) return;
  if (m_merge && m_merge->OnCommand(id)) return;
  if (m_export && m_export->OnCommand(id)) return;
}

LRESULT CVantrelDlg::OnSelectorPick(WPARAM /*index*/, LPARAM text) {
  // The selector hands its item text as a QString, valid during this call.
  const QString item = text ? *reinterpret_cast<const QString*>(text) : QString();
  if (m_nFunction == kFunctionExport) {
    SetMessage("Export video to " + item);
    m_nOutput = OutputCodeForPick(item, m_nOutput);
  }
  if (const auto choice = FunctionForPick(item)) {
    Static(1006)->SetText(choice->title);
    ShowMontagePane(choice->function == kFunctionMontage);
    ShowMergePane(choice->function == kFunctionMerge);
    ShowExportPane(choice->function == kFunctionExport);
    SetMessage(choice->message);
    // The preview player and its screen belong to the current function: a pane left stops it.
    const bool leftMontage =
        m_nFunction == kFunctionMontage && choice->function != kFunctionMontage;
    const bool leftMerge = m_nFunction == kFunctionMerge && choice->function != kFunctionMerge;
    m_nFunction = choice->function;
    if (m_montage && leftMontage) m_montage->OnHidden();
    if (m_merge && leftMerge) m_merge->StopPlaying();
    if (m_montage && m_nFunction == kFunctionMontage) m_montage->OnShown();
  }
  return 0;
}

void CVantrelDlg::OnBottomStripClick(LPARAM screenPoint) {
  const QPoint screen(HiWord(screenPoint), LoWord(screenPoint));
  const QPoint client = mapFromGlobal(screen);
  switch (BottomStripHit(client, size())) {
    case StripHit::AboutBox:
      if (showSkinnedAbout) showSkinnedAbout();
      break;
    case StripHit::WebPage:
      if (openUrl) openUrl(QUrl(kMakerUrl));
      break;
    case StripHit::None:
      break;
  }
}

void CVantrelDlg::ShowSkinnedAboutBox() {
  CSkinnedAbout about(this);
  about.exec();
}

void CVantrelDlg::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_BracketLeft:
      OnCommand(1003);
      return;
    case Qt::Key_BracketRight:
      OnCommand(1004);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OnOK();
      return;
    case Qt::Key_Escape:
      OnCancel();
      return;
    default:
      QWidget::keyPressEvent(e);
  }
}

void CVantrelDlg::closeEvent(QCloseEvent* e) {
  // Only the quit button ends the window.
  if (!m_bEnded) e->ignore();
}

void CVantrelDlg::resizeEvent(QResizeEvent* e) {
  const auto places = TitleButtonsFor(e->size(), width());
  if (!places) return;
  QWidget::resizeEvent(e);
  update();
  if (QWidget* quit = GetDlgItem(1000)) quit->setGeometry(QRect(places->quit, QSize(16, 16)));
  if (QWidget* mini = GetDlgItem(1001)) mini->setGeometry(QRect(places->minimize, QSize(16, 16)));
}

void CVantrelDlg::paintEvent(QPaintEvent*) {
  // Without a skin nothing else paints the client area: plain cream.
  if (!m_frame || !m_frame->Skinned()) {
    QPainter p(this);
    p.fillRect(rect(), ToQColor(kPaneBk));
  }
}

void CVantrelDlg::mousePressEvent(QMouseEvent* e) {
  QWidget::mousePressEvent(e);
}

void CVantrelDlg::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void CVantrelDlg::dropEvent(QDropEvent* e) {
  QStringList files;
  for (const QUrl& url : e->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  OnDropFiles(files);
  e->acceptProposedAction();
}

void CVantrelDlg::OnDropFiles(const QStringList& files) {
  if (files.isEmpty() || m_bDestroyed) return;
  if (m_nFunction == kFunctionMerge) {
    if (m_merge) m_merge->AddDropped(files);
    return;
  }
  const auto path = DroppedSourcePath(files);
  if (!path) return;
  int target = -1;
  if (m_nFunction == kFunctionMontage) target = 1025;
  if (m_nFunction == kFunctionExport) target = 1042;
  if (target == 1025 && m_montage && m_montage->IsRunning()) return;
  if (QLineEdit* edit = Edit(target)) {
    edit->setText(*path);
    edit->setToolTip(*path);
  }
}

void CVantrelDlg::OpenMontageClip(const QString& path) {
  // Picks Video Montage as a click on its item does, so the selector marks it too.
  auto* selector = qobject_cast<CQmvSel*>(GetDlgItem(1016));
  const QPointF at = selector->Model().ItemRect(1, selector->width()).center();
  const QPointF global = selector->mapToGlobal(at);
  QMouseEvent move(QEvent::MouseMove, at, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(selector, &move);
  QCoreApplication::sendEvent(selector, &press);
  QCoreApplication::sendEvent(selector, &release);
  if (m_montage) m_montage->OpenClip(path);
}
