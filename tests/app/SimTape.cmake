# The tape output on the simulated IEEE 1394 bus: a test program of its own, run with the
# simulation (build/bin/sim1394) ahead of the system's libraw1394. Without it the tests skip.
add_executable(sim_tape_tests ${CMAKE_CURRENT_LIST_DIR}/ExportSimTapeTest.cpp)
target_link_libraries(sim_tape_tests PRIVATE vantrelapp testsupport qttestmain Qt6::Test
  PkgConfig::GST ${CMAKE_DL_LIBS})
# The simulation is built with the tests (tests/sim1394).
add_dependencies(sim_tape_tests sim1394)
gtest_discover_tests(sim_tape_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 180
  ENVIRONMENT "LD_LIBRARY_PATH=${VANTREL_BIN_DIR}/sim1394;QT_QPA_PLATFORM=offscreen;VANTREL_VIDEO_SINK=fakesink;VANTREL_AUDIO_SINK=fakesink")
