# Tests of the DV tape export: the camcorder search and the DV frames on their own, and whole
# recordings through the library with the file camcorder.
add_executable(tape_tests
  ${CMAKE_CURRENT_LIST_DIR}/TapeDevicesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TapeTest.cpp
  ${PROJECT_SOURCE_DIR}/qmvplyex/Camcorder.cpp
  ${PROJECT_SOURCE_DIR}/qmvplyex/CamcorderFile.cpp
  ${PROJECT_SOURCE_DIR}/qmvplyex/Camcorder1394.cpp
  ${PROJECT_SOURCE_DIR}/qmvplyex/DvFrames.cpp)
target_link_libraries(tape_tests PRIVATE qmvplyex qttestmain testsupport programlog PkgConfig::GST
  PkgConfig::DV1394)
# No sound card and no display in the test run: sinks that keep the clock and show nothing.
gtest_discover_tests(tape_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "VANTREL_VIDEO_SINK=fakesink;VANTREL_AUDIO_SINK=fakesink;QT_QPA_PLATFORM=offscreen"
  TIMEOUT 120)
