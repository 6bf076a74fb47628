#include "AboutBoxes.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "AppIcon.h"
#include "CRoundButton.h"
#include "CXStatic.h"
#include "DbgLog.h"
#include "Gdi.h"
#include "SkinModule.h"
#include "SkinnedFrame.h"

void ShowPlainAboutBox(QWidget* parent) {
  QDialog box(parent);
  box.setWindowTitle("About Vantrel");
  box.setFixedSize(DluX(235), DluY(55));
  auto* icon = new QLabel(&box);
  icon->setPixmap(MakeAppIcon().pixmap(32, 32));
  icon->setGeometry(DluX(11), DluY(17), 32, 32);
  auto* text = new QLabel("Vantrel Version 1.0", &box);
  text->setGeometry(DluRect(40, 10, 119, 8));
  auto* ok = new QPushButton("OK", &box);
  ok->setGeometry(DluRect(178, 7, 50, 14));
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
  box.exec();
}

CSkinnedAbout::CSkinnedAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_skin(std::make_unique<SkinModule>()) {
  QFont f("Tahoma");
  f.setPointSize(9);
  setFont(f);
  setFixedSize(DluX(145), DluY(103));
  const bool skinned = m_skin->LoadFromInstallFolder();
  if (!skinned) DbgLog(true, -1, "Failed to load Skin.dll\n");

  m_frame = std::make_unique<SkinnedFrame>(this, m_skin.get());
  m_frame->SetCaption(SkinnedFrame::Caption::None);
  m_frame->SetCorner(SkinnedFrame::Corner::None);
  m_frame->ApplyShape();

  auto* ok = new CRoundButton("OK", this);
  ok->setGeometry(DluRect(103, 84, 35, 11));
  connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);

  m_version = new CXStatic(this);
  m_version->setGeometry(DluRect(10, 16, 126, 12));
  m_text = new CXStatic(this);
  m_text->setGeometry(DluRect(10, 29, 126, 50));
  for (CXStatic* st : {m_version, m_text}) {
    st->SetTextMode(true);
    st->SetBkColor(0xEAFDFF);
    st->SetDrawRect(QRect(0, 0, st->width(), st->height()));
  }
  m_version->SetTextColor(0x0300FF);
  m_version->SetTextFont("Arial Black", 18, false, false, false);
  m_version->SetFormat(DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  m_text->SetTextColor(0x800000);
  m_text->SetTextFont("Tohoma", 13, false, false, false);
  m_text->SetFormat(DT_WORDBREAK | DT_CENTER);
  if (skinned) {
    m_version->SetText("Vantrel Version 1.0");
    m_text->SetText(
        "Cuts and joins Windows Media clips without re-encoding: Video Montage, Clip Merge "
        "and Video Export.\n\nwww.vantrel.com");
  }
}

CSkinnedAbout::~CSkinnedAbout() = default;
