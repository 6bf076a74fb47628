#include "CPlayerWnd.h"

#include <dlfcn.h>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

#include "CQmvButton.h"
#include "ClipFile.h"
#include "DbgLog.h"
#include "Gdi.h"
#include "PlayerRules.h"
#include "SkinModule.h"
#include "SkinnedFrame.h"
#include "WinMessage.h"

namespace {

constexpr int kCloseButton = 1000;
constexpr int kMaxButton = 1001;
constexpr int kSysButton = 1002;
constexpr int kTimerPeriodMs = 500;
constexpr int kCornerSize = 10;

QRect ToQRect(const RECT& r) {
  return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

}  // namespace

template <typename Fn>
Fn CPlayerWnd::Ply(const char* name) const {
  return m_hPlyModule != nullptr ? reinterpret_cast<Fn>(dlsym(m_hPlyModule, name)) : nullptr;
}

CPlayerWnd::CPlayerWnd(QWidget* owner)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      m_pOwner(owner),
      m_skin(std::make_unique<SkinModule>()) {
  setWindowTitle("Vantrel Player");
  QFont font("Tahoma");
  font.setPointSize(9);
  setFont(font);
  // The window erases and paints for itself, and never over a playing video.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  resize(DluX(235), DluY(163));

  // Title buttons have windows of their own, so the video drawn into this window leaves them
  // standing.
  auto makeButton = [this](int id) {
    auto* b = new CQmvButton(this);
    SetCtrlId(b, id);
    b->setAttribute(Qt::WA_NativeWindow);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
  };
  m_btnClose = makeButton(kCloseButton);
  m_btnMax = makeButton(kMaxButton);
  m_btnSys = makeButton(kSysButton);
  m_btnSys->setGeometry(DluRect(3, 3, 12, 11));
  connect(m_btnClose, &QAbstractButton::clicked, this, &CPlayerWnd::OnClose);
  connect(m_btnMax, &QAbstractButton::clicked, this, &CPlayerWnd::OnMax);
  PlaceTitleButtons();

  // The frame's metrics, painting and dragging, driven from this window's own handlers.
  m_frame = new SkinnedFrame(this, m_skin.get());
  removeEventFilter(m_frame);
  m_frame->SetCaption(SkinnedFrame::Caption::Band);
  m_frame->SetCorner(SkinnedFrame::Corner::Fixed, kCornerSize);

  m_timer.setInterval(kTimerPeriodMs);
  connect(&m_timer, &QTimer::timeout, this, &CPlayerWnd::OnTimer);

  // The skin only dresses the window: without it the window plays unskinned, with its reports.
  const bool skinned = m_skin->LoadFromInstallFolder();
  m_hPlyModule = dlopen((InstallFolder() + "/libqmvplyex.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!skinned) DbgLog(0, -1, "Failed to load Skin.dll\n");
  if (m_hPlyModule == nullptr) {
    DbgLog(0, -1, "Failed to load qmvplyex.dll\n");
    return;
  }
  if (auto init = Ply<plyInitFn>("plyInit")) init();
  m_timer.start();
  m_strTitle.clear();
  if (auto clip = Ply<SetClipWndFn>("SetClipWnd")) clip(static_cast<HWND>(winId()));
  m_rcVideo = RECT{0, 0, 0, 0};
  if (skinned) SetUpSkin();
}

CPlayerWnd::~CPlayerWnd() {
  // The owner shuts the window down first; a window deleted without that still lets go.
  if (!m_bShutDown) ShutDown();
}

void CPlayerWnd::NewReportGeneration() {
  m_generation = (m_generation & 0xFFFFu) == 0xFFFFu ? 1 : m_generation + 1;
}

void CPlayerWnd::Report(int kind, LONG position) {
  PostMsg(m_pOwner, WM_PLAYER_NOTIFY, ReportParam(kind, m_generation), position);
}

bool CPlayerWnd::SkinLoaded() const {
  return m_skin->Loaded();
}

CQmvButton* CPlayerWnd::TitleButton(int id) const {
  switch (id) {
    case kCloseButton:
      return m_btnClose;
    case kMaxButton:
      return m_btnMax;
    case kSysButton:
      return m_btnSys;
    default:
      return nullptr;
  }
}

int CPlayerWnd::HitTest(QPoint windowPos) const {
  return m_frame->HitTest(windowPos);
}

void CPlayerWnd::SetUpSkin() {
  m_bShaped = true;
  ApplyShape();
  auto getBut = m_skin->Get<GetButIdFn>(kGetButId);
  if (getBut == nullptr) return;
  struct TitleButtonKind {
    CQmvButton* button;
    int kind;
  };
  for (const TitleButtonKind tb :
       {TitleButtonKind{m_btnClose, kSkinButQuit}, TitleButtonKind{m_btnMax, kSkinButMaximize},
        TitleButtonKind{m_btnSys, kSkinButSystem}}) {
    auto pix = [&](int state) { return m_skin->Pixmap(getBut(tb.kind, state) & 0xFFFF); };
    tb.button->SetBitmap(CQmvButton::Normal, pix(kSkinStateNormal));
    tb.button->SetBitmap(CQmvButton::Pressed, pix(kSkinStatePressed));
    tb.button->SetBitmap(CQmvButton::Hover, pix(kSkinStateHover));
    tb.button->SetBitmap(CQmvButton::Disabled, pix(kSkinStateDisabled));
    tb.button->SetBitmap(CQmvButton::Hot, pix(kSkinStateHot));
  }
  m_btnSys->SizeToContent();
}

// --- The export pane's operations ---

void CPlayerWnd::ResetEngine() {
  if (IsPlaying()) {
    if (auto stop = Ply<plyStopFn>("plyStop")) stop();
  }
  if (auto cleanUp = Ply<plyCleanUpFn>("plyCleanUp")) cleanUp();
  if (auto init = Ply<plyInitFn>("plyInit")) init();
  if (auto clip = Ply<SetClipWndFn>("SetClipWnd")) clip(static_cast<HWND>(winId()));
}

void CPlayerWnd::UseMixingRenderer() {
  if (auto vmr = Ply<plyUseVMRFn>("plyUseVMR")) vmr();
}

const RECT* CPlayerWnd::ChooseOutput(int index) {
  auto output = Ply<SetOutputFn>("SetOutput");
  return output != nullptr ? output(index) : nullptr;
}

void CPlayerWnd::OpenClip(const QString& path, const RECT* rect) {
  m_strTitle = path;
  m_frame->SetCaptionText(path);
  if (auto url = Ply<plyPlyUrlFn>("plyPlyUrl")) url(path.toLocal8Bit().constData());
  if (Ply<SetMvFn>("SetMv") != nullptr) {
    m_rcVideo = rect != nullptr ? *rect : VideoArea();
    ApplyVideoRect();
  }
  update();
  repaint();
}

void CPlayerWnd::PlayOrStop(int stop) {
  if (stop == 0) {
    if (auto start = Ply<plyStartFn>("plyStart")) start();
  } else {
    if (auto halt = Ply<plyStopFn>("plyStop")) halt();
  }
}

void CPlayerWnd::FullScreenAt(bool on, int x, int y) {
  if (!IsPlaying()) return;
  auto full = Ply<SetFullScrFn>("SetFullScr");
  if (full == nullptr) return;
  const POINT position{x, y};
  full(on ? 1 : 0, &position);
  // Back in the window, the video goes back into the window's own video area.
  if (!on) {
    m_rcVideo = VideoArea();
    ApplyVideoRect();
  }
}

// --- Messages ---

bool CPlayerWnd::event(QEvent* e) {
  if (e->type() == WinMsgEvent::Type()) {
    auto* msg = static_cast<WinMsgEvent*>(e);
    if (msg->message == WM_PLAYER_COMMAND) {
      OnCommand(msg->wParam, msg->lParam);
    } else if (msg->message == WM_GRAPH_NOTIFY) {
      if (auto handle = Ply<plyHandleEventFn>("plyHandleEvent")) handle();
    }
    return true;
  }
  return QWidget::event(e);
}

void CPlayerWnd::OnCommand(WPARAM command, LPARAM position) {
  switch (command) {
    case 0:
      if (IsPlaying()) {
        if (auto stop = Ply<plyStopFn>("plyStop")) stop();
      }
      break;
    case 1:
      if (auto seek = Ply<SetMvCurPosFn>("SetMvCurPos")) seek(static_cast<LONG>(position));
      if (auto start = Ply<plyStartFn>("plyStart")) start();
      break;
    case 5:
      ShutDown();
      break;
    default:
      break;
  }
}

void CPlayerWnd::ShutDown() {
  if (IsPlaying()) {
    if (auto stop = Ply<plyStopFn>("plyStop")) stop();
  }
  if (auto cleanUp = Ply<plyCleanUpFn>("plyCleanUp")) cleanUp();
  m_skin->Free();
  if (m_hPlyModule != nullptr) {
    dlclose(m_hPlyModule);
    m_hPlyModule = nullptr;
  }
  m_timer.stop();
  m_bShutDown = true;
  hide();
}

bool CPlayerWnd::IsPlaying() const {
  auto playing = Ply<plyIsPlayingFn>("plyIsPlaying");
  return playing != nullptr && playing() != 0;
}

void CPlayerWnd::OnTimer() {
  // Graph events are polled here: the end of the clip or an error releases the graph, and the
  // report below then says so.
  if (auto handle = Ply<plyHandleEventFn>("plyHandleEvent")) handle();
  if (IsPlaying()) {
    LONG position = 0;
    if (auto pos = Ply<GetMvCurPosFn>("GetMvCurPos")) pos(&position);
    Report(1, position);
    return;
  }
  Report(0, 0);
  auto isFull = Ply<IsFullScrFn>("IsFullScr");
  if (isFull != nullptr && isFull() != 0) LeaveFullScreen();
}

void CPlayerWnd::LeaveFullScreen() {
  if (auto full = Ply<SetFullScrFn>("SetFullScr")) full(0, nullptr);
  if (IsPlaying()) {
    m_rcVideo = VideoArea();
    ApplyVideoRect();
  }
}

void CPlayerWnd::OnClose() {
  if (IsPlaying()) {
    if (auto stop = Ply<plyStopFn>("plyStop")) stop();
    Report(0, 0);
  }
  hide();
}

void CPlayerWnd::OnMax() {
  if (!IsPlaying()) return;
  const QPoint origin = FullScreenOrigin(frameGeometry().topLeft(), MonitorRects());
  const POINT position{origin.x(), origin.y()};
  if (auto full = Ply<SetFullScrFn>("SetFullScr")) full(1, &position);
}

void CPlayerWnd::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Escape: {
      // Only a full screen is left: the engine would otherwise put a window the user has moved
      // since back where the last full screen began.
      auto isFull = Ply<IsFullScrFn>("IsFullScr");
      if (isFull == nullptr || isFull() != 0) LeaveFullScreen();
      e->accept();
      break;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      e->accept();
      break;
    default:
      QWidget::keyPressEvent(e);
  }
}

void CPlayerWnd::closeEvent(QCloseEvent* e) {
  // Closed from outside: as the close button, and the window lives on.
  if (!m_bShutDown) OnClose();
  e->ignore();
}

// --- Size, shape and painting ---

RECT CPlayerWnd::VideoArea() const {
  if (CoversMonitor(frameGeometry(), MonitorRects())) return RECT{0, 0, width(), height()};
  const SkinMetrics m = m_frame->Metrics();
  return RECT{m.border, m.caption, width() - m.border, height() - m.border};
}

void CPlayerWnd::ApplyVideoRect() {
  if (auto mv = Ply<SetMvFn>("SetMv"))
    mv(m_rcVideo.left, m_rcVideo.top, m_rcVideo.right - m_rcVideo.left,
       m_rcVideo.bottom - m_rcVideo.top);
}

void CPlayerWnd::ApplyShape() {
  if (!m_bShaped) return;
  // Full screen shows the whole monitor, corners included.
  if (CoversMonitor(frameGeometry(), MonitorRects()))
    clearMask();
  else
    m_frame->ApplyShape();
}

void CPlayerWnd::PlaceTitleButtons() {
  const int w = width();
  m_btnClose->setGeometry(w - 20, 5, 16, 16);
  m_btnMax->setGeometry(w - 40, 5, 16, 16);
}

void CPlayerWnd::resizeEvent(QResizeEvent* e) {
  if (e->size().width() < 40 || e->size().height() < 30) return;
  QWidget::resizeEvent(e);
  ApplyShape();
  m_rcVideo = VideoArea();
  update();
  PlaceTitleButtons();
  if (IsPlaying()) ApplyVideoRect();
}

void CPlayerWnd::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  ApplyShape();
}

void CPlayerWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool playing = IsPlaying();
  // The erase: all of the window while nothing plays, else all but the video.
  QRegion erase(rect());
  if (playing) erase -= QRegion(ToQRect(m_rcVideo));
  for (const QRect& r : erase) painter.fillRect(r, palette().window());
  if (!playing) m_frame->PaintClient(painter);
  m_rcVideo = VideoArea();
  // A video filling the whole window has no frame drawn over it.
  const bool videoFillsWindow = playing && ToQRect(m_rcVideo) == rect();
  if (!videoFillsWindow) m_frame->PaintFrame(painter);
}

void CPlayerWnd::mousePressEvent(QMouseEvent* e) {
  if (!m_frame->MousePress(e)) QWidget::mousePressEvent(e);
}

void CPlayerWnd::mouseDoubleClickEvent(QMouseEvent* e) {
  if (!m_frame->MousePress(e)) QWidget::mouseDoubleClickEvent(e);
}

void CPlayerWnd::mouseMoveEvent(QMouseEvent* e) {
  if (!m_frame->MouseMove(e)) QWidget::mouseMoveEvent(e);
}

void CPlayerWnd::mouseReleaseEvent(QMouseEvent* e) {
  if (!m_frame->MouseRelease(e)) QWidget::mouseReleaseEvent(e);
}
