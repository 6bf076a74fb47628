# The export pane's tests join the window tests.
target_sources(app_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ExportPaneTest.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/ExportTapeTest.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/ExportMonitorTest.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/ExportEncoderClipsTest.cpp)

# The monitor outputs on the two-monitor desktop (offscreen they skip themselves).
add_test(NAME ExportPaneTest.TwoMonitorDesktop
  COMMAND ${PROJECT_SOURCE_DIR}/tests/support/two_monitor_run $<TARGET_FILE:app_tests>
          --gtest_filter=ExportMonitors.*
  WORKING_DIRECTORY ${VANTREL_BIN_DIR})
set_tests_properties(ExportPaneTest.TwoMonitorDesktop PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=xcb;VANTREL_AUDIO_SINK=fakesink" TIMEOUT 120 SKIP_RETURN_CODE 77)
