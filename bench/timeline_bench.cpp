// Times the timeline's operations with thousands of sections: adding one more, selecting,
// dragging an edge, the section list's bound test, and painting the bar. Prints one line per
// operation with the median, the 99th percentile and the worst time of its runs, in
// microseconds. On a shared machine the worst run mostly measures the scheduler.
//
//   timeline_bench [SECTIONS] [BAR_WIDTH]     defaults 5000 and 315 (the pane's timeline)
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "CQmvSld.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median;
  double p99;
  double worst;
};

Figures Summarise(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
}

// Runs op `runs` times, timing each run alone.
Figures Time(int runs, const std::function<void(int)>& op) {
  std::vector<double> us;
  us.reserve(static_cast<size_t>(runs));
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    op(i);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  return Summarise(std::move(us));
}

void Report(const char* what, int runs, Figures f) {
  std::printf("%-44s %5d runs  median %7.1f us  p99 %7.1f us  worst %8.1f us\n", what, runs,
              f.median, f.p99, f.worst);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int width = argc > 2 ? std::atoi(argv[2]) : 315;
  if (count < 2 || width < 10) {
    std::fprintf(stderr, "usage: timeline_bench [SECTIONS>=2] [BAR_WIDTH>=10]\n");
    return 2;
  }
  // Sections of one second every two seconds, on a clip just long enough to hold them.
  constexpr int kPitch = 2000;
  const int length = count * kPitch + kPitch;

  CQmvSld sld;
  sld.PlaceBar(0, 0, width, 24);
  sld.SetRange(0, length);
  QObject owner;  // takes the control's messages like the main window, without handling them
  sld.SetOwnerWnd(&owner);

  // Adding: two Add Mark presses per section, as the button does it; the last 10% of the
  // sections are timed, so each run meets 90% to 100% of `count` sections already there.
  const int untimed = count - count / 10;
  for (int i = 0; i < untimed; ++i) {
    sld.SetPos(i * kPitch);
    sld.AddMark();
    sld.SetPos(i * kPitch + 1000);
    sld.AddMark();
  }
  Report("add a section (Add Mark twice)", count - untimed, Time(count - untimed, [&](int k) {
           const int i = untimed + k;
           sld.SetPos(i * kPitch);
           sld.AddMark();
           sld.SetPos(i * kPitch + 1000);
           sld.AddMark();
         }));
  if (sld.GetCount() != count) {
    std::fprintf(stderr, "expected %d sections, got %d\n", count, sld.GetCount());
    return 1;
  }

  const CPeriodBar& bar = sld.Bar();
  CPeriodBar model = bar;  // a copy to drive the operations the control has no member for
  const int runs = 1000;
  Report("select by click (SelectAt)", runs,
         Time(runs, [&](int k) { model.SelectAt((k * 7919) % width, 10); }));
  Report("select from the list (SelectPeriod)", runs,
         Time(runs, [&](int k) { sld.SelectPeriod((k * 7919) % count); }));
  Report("section at the cursor (PeriodAt, last)", runs,
         Time(runs, [&](int) { model.PeriodAt((count - 1) * kPitch + 500); }));
  model.SelectIndex(count / 2);
  Report("edge drag step (ResizeEdited)", runs, Time(runs, [&](int k) {
           int span[2] = {model.GetEditPeriod().nFrom, (count / 2) * kPitch + 1000 + k % 900};
           model.ResizeEdited(span, 1);
         }));
  Report("typed bound test (IsInsideNeighbourBounds)", runs, Time(runs, [&](int k) {
           model.IsInsideNeighbourBounds((k % count) * kPitch + 1500, k % count, true);
         }));
  Report("next sequence number (NextSeq)", runs, Time(runs, [&](int) { model.NextSeq(); }));

  // Painting: the model into an image, and the whole control through its back buffer.
  QImage img(width, 24, QImage::Format_RGB32);
  const int paints = 300;
  Report("paint the bar (CPeriodBar::Paint)", paints, Time(paints, [&](int) {
           QPainter p(&img);
           bar.Paint(&p);
         }));
  QImage screen(width, 24, QImage::Format_RGB32);
  Report("paint the control (back buffer + copy)", paints,
         Time(paints, [&](int) { sld.render(&screen); }));
  std::printf("%d sections on a %d-pixel bar, clip of %d ms\n", count, width, length);
  return 0;
}
