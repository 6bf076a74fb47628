add_executable(app_tests ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/MontageEndToEndTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/MergeEndToEndTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/MainWindowMonkeyTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/MonkeyClipCheck.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/PaneWiringTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/KeyFramesEndToEndTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/MontagePlayTest.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/MontageKeptSectionsTest.cpp)
target_link_libraries(app_tests PRIVATE vantrelapp testsupport qttestmain Qt6::Test)
if(VANTREL_SANITIZE)
  target_compile_definitions(app_tests PRIVATE VANTREL_SANITIZED)
endif()
gtest_discover_tests(app_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTREL_VIDEO_SINK=fakesink;VANTREL_AUDIO_SINK=fakesink")

# Screenshots of the panes for review: app_shots <folder> <clip>.
add_executable(app_shots ${CMAKE_CURRENT_LIST_DIR}/AppShots.cpp)
target_link_libraries(app_shots PRIVATE vantrelapp clipgen Qt6::Test)

# The window on a real X server: outline, start-up and quit with its tear-down.
find_program(XVFB_RUN xvfb-run)
if(XVFB_RUN)
  add_test(NAME MainWindowTest.UnderXvfb
    COMMAND ${XVFB_RUN} -a -s "-screen 0 1024x768x24" $<TARGET_FILE:app_tests>
            --gtest_filter=MainWindowTest.Starts*:MainWindowTest.Enter*:MainWindowTest.Resize*:MainWindowTest.BottomStrip*
    WORKING_DIRECTORY ${VANTREL_BIN_DIR})
  set_tests_properties(MainWindowTest.UnderXvfb PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;VANTREL_VIDEO_SINK=fakesink;VANTREL_AUDIO_SINK=fakesink" TIMEOUT 120)
endif()
