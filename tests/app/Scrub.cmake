# The preview following a dragged cursor on a large clip, made once into the build tree.
if(VANTREL_SANITIZE)
  set(VANTREL_SCRUB_CLIP_MS 30000)
else()
  set(VANTREL_SCRUB_CLIP_MS 300000)
endif()
add_executable(scrub_window_tests ${CMAKE_CURRENT_LIST_DIR}/ScrubWindowTest.cpp)
target_link_libraries(scrub_window_tests PRIVATE vantrelapp testsupport qttestmain Qt6::Test)
target_compile_definitions(scrub_window_tests PRIVATE
  VANTREL_SCRUB_CLIP="${CMAKE_BINARY_DIR}/testdata/scrub_720p25_8M_${VANTREL_SCRUB_CLIP_MS}ms.wmv"
  VANTREL_SCRUB_CLIP_MS=${VANTREL_SCRUB_CLIP_MS})
gtest_discover_tests(scrub_window_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60
                     PROPERTIES TIMEOUT 900
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTREL_VIDEO_SINK=fakesink;VANTREL_AUDIO_SINK=fakesink")
