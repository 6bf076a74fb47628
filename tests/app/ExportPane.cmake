# The export pane's tests join the window tests.
target_sources(app_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ExportPaneTest.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/ExportMonitorTest.cpp)
if(EXISTS ${PROJECT_SOURCE_DIR}/tests/support/DvCheck.h)
  target_sources(app_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ExportTapeTest.cpp)
endif()
