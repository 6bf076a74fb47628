# Section list, montage job and source clip: plain classes the main window drives.
add_library(vantrelmontage STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SectionList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageSource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KeyFrameLister.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontagePlayback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CursorKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MarksState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EditHistory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SectionStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SectionCsv.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextFile.cpp)
target_include_directories(vantrelmontage PUBLIC ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)
target_link_libraries(vantrelmontage PUBLIC qmvedit vantrelkeymarks clipfile programlog Threads::Threads
                                            ${CMAKE_DL_LIBS})
