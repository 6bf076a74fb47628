#include "ShellRules.h"

#include <cstdio>

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
  const int dot = last.lastIndexOf('.');
  const QString ext = (dot >= 0 ? last.mid(dot + 1) : last).toLower();
  if (ext == "qmv" || ext == "wmv") return last;
  return std::nullopt;
}

QString DurationText(qint64 ms) {
  if (ms < 0) ms = 0;
  const qint64 secs = ms / 1000;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(secs / 3600),
                static_cast<long long>((secs / 60) % 60), static_cast<long long>(secs % 60));
  return QString::fromLatin1(buf);
}

QString PercentText(double percent) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%%%0.0f", percent);
  return QString::fromLatin1(buf);
}
