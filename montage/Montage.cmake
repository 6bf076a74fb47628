# Section list, montage job and source clip: plain classes the main window drives.
add_library(vantrelmontage STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SectionList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageSource.cpp)
target_include_directories(vantrelmontage PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vantrelmontage PUBLIC qmvedit clipfile programlog ${CMAKE_DL_LIBS})
