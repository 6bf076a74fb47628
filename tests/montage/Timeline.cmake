# The timeline model and control.
add_executable(timeline_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/PeriodBarTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/PeriodBarPaintTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/TimelineControlTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/KeyFrameTimelineTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/EditHistoryTest.cpp)
target_link_libraries(timeline_tests PRIVATE vantreltimeline vantrelmontage qttestmain Qt6::Test GTest::gtest)
gtest_discover_tests(timeline_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60)
