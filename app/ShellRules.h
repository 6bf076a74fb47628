// The main window's decisions that need no window: the function switch, the bottom strip's
// click areas, the title buttons' places after a resize and what a drop fills.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

// Function codes of the main window.
constexpr int kFunctionNone = -1;
constexpr int kFunctionMerge = 1;
constexpr int kFunctionMontage = 2;
constexpr int kFunctionExport = 3;

// Output codes of the export pane.
constexpr int kOutputNone = -1;
constexpr int kOutputPrimary = 10;
constexpr int kOutputSecondary = 11;
constexpr int kOutputSVideo = 12;
constexpr int kOutputDvTape = 13;
constexpr int kOutputComposite = 16;

// The output code an export-mode pick sets: later matches override earlier ones; no match
// keeps `current`.
int OutputCodeForPick(const QString& itemText, int current);

struct FunctionChoice {
  int function;
  const char* title;
  const char* message;
};
// The function an item text names ("Clip Merge", "Video Montage", "Video Export", any case),
// or nothing.
std::optional<FunctionChoice> FunctionForPick(const QString& itemText);

enum class StripHit { None, AboutBox, WebPage };
// What a click at a client point on the bottom strip opens.
StripHit BottomStripHit(QPoint client, QSize clientSize);

struct TitleButtonPlaces {
  QPoint quit;
  QPoint minimize;
};
// Where the quit and minimize buttons go for a new client size, or nothing when the window is
// too small to lay out.
std::optional<TitleButtonPlaces> TitleButtonsFor(QSize clientSize, int windowWidth);

// The one path a drop puts into a source edit outside Clip Merge: the last dropped file when it
// is a clip (extension compared without case), else nothing.
std::optional<QString> DroppedSourcePath(const QStringList& files);
