# Section list, montage job and source clip.
add_executable(montage_tests
  ${CMAKE_CURRENT_LIST_DIR}/SectionListTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KeyFrameListTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageJobTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageSourceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontagePlaybackTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SectionStoreTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SectionCsvTest.cpp)
target_link_libraries(montage_tests PRIVATE vantrelmontage testsupport GTest::gtest_main)
# Clip lengths come from the information library beside the executable.
add_dependencies(montage_tests qmvinfo)
gtest_discover_tests(montage_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60)
