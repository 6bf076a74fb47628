// Test entry for widget tests: one QApplication on the offscreen platform for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// Leaks of the platform under AddressSanitizer, none of ours: GLib's constructor allocates the
// first block of its quark table and drops it, on purpose, when the table grows (GStreamer
// registers thousands of quarks); on X, Qt's D-Bus thread keeps a read buffer. Full stacks are
// needed to tell them by their callers.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:_dl_init\nleak:libdbus-1.so\n";
}
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The montage pane keeps sections in the user's state folder: a folder of the run's own, so
  // that nothing reaches the real home and no test sees another's sections.
  QTemporaryDir state;
  if (!state.isValid()) return 1;
  qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
