# Skin library exports and the skinned window frame.
add_executable(frame_tests
  ${CMAKE_CURRENT_LIST_DIR}/SkinLibraryTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinnedFrameTest.cpp)
target_link_libraries(frame_tests PRIVATE vantrelframe qttestmain GTest::gtest)
# The tests load libSkin.so from their own folder, the install folder.
add_dependencies(frame_tests Skin)
gtest_discover_tests(frame_tests WORKING_DIRECTORY ${VANTREL_BIN_DIR} DISCOVERY_TIMEOUT 60)
