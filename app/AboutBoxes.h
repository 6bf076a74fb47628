// The two About boxes: the plain one (system command 0x10) and the skinned one of the Sys
// button and the bottom strip.
#pragma once

#include <QDialog>
#include <memory>

class SkinModule;
class SkinnedFrame;
class CXStatic;

void ShowPlainAboutBox(QWidget* parent);

class CSkinnedAbout : public QDialog {
 public:
  explicit CSkinnedAbout(QWidget* parent);
  ~CSkinnedAbout() override;

  CXStatic* VersionLine() const { return m_version; }
  CXStatic* TextBlock() const { return m_text; }

  // Enter and Escape close the box as its OK button does.
 private:
  std::unique_ptr<SkinModule> m_skin;
  std::unique_ptr<SkinnedFrame> m_frame;
  CXStatic* m_version;
  CXStatic* m_text;
};
