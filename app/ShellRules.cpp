#include "ShellRules.h"

#include "ClipFile.h"

int OutputCodeForPick(const QString& itemText, int current) {
  const QString lower = itemText.toLower();
  int code = current;
  if (lower.contains("primary mornitor")) code = kOutputPrimary;
  if (lower.contains("secondary mornitor")) code = kOutputSecondary;
  if (lower.contains("s-video")) code = kOutputSVideo;
  if (lower.contains("composite")) code = kOutputComposite;
  if (lower.contains("dv tape")) code = kOutputDvTape;
  return code;
}

std::optional<FunctionChoice> FunctionForPick(const QString& itemText) {
  const QString lower = itemText.toLower();
  if (lower == "clip merge")
    return FunctionChoice{kFunctionMerge, "Clip Merge", "Merge several video clips into one clip."};
  if (lower == "video montage")
    return FunctionChoice{kFunctionMontage, "Video Montage",
                          "Easy cut and reassemble one video clip."};
  if (lower == "video export")
    return FunctionChoice{kFunctionExport, "Video Export",
                          "Output clip to mornitors, DV tape or other format files."};
  return std::nullopt;
}

StripHit BottomStripHit(QPoint client, QSize clientSize) {
  // Left and top edges are inclusive, the client area's right and bottom edges are not.
  const int right = clientSize.width();
  const int bottom = clientSize.height();
  if (client.x() >= 322 && client.y() >= 196 && client.x() < right && client.y() < bottom)
    return StripHit::AboutBox;
  if (client.x() >= 0 && client.y() >= 196 && client.x() < 200 && client.y() < bottom)
    return StripHit::WebPage;
  return StripHit::None;
}

std::optional<TitleButtonPlaces> TitleButtonsFor(QSize clientSize, int windowWidth) {
  if (clientSize.width() < 40 || clientSize.height() < 30) return std::nullopt;
  return TitleButtonPlaces{QPoint(windowWidth - 20, 5), QPoint(windowWidth - 40, 5)};
}

std::optional<QString> DroppedSourcePath(const QStringList& files) {
  if (files.isEmpty()) return std::nullopt;
  const QString& last = files.back();
  if (IsClipFile(last.toStdString())) return last;
  return std::nullopt;
}
