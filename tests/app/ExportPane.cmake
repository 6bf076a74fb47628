# The export pane's tests join the window tests.
target_sources(app_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ExportPaneTest.cpp)
