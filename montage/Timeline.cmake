# Marks and sections (CPeriodBar) and the timeline control (CQmvSld).
add_library(vantreltimeline STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/PeriodBar.cpp ${CMAKE_CURRENT_SOURCE_DIR}/PeriodBar.h
  ${CMAKE_CURRENT_SOURCE_DIR}/CQmvSld.cpp ${CMAKE_CURRENT_SOURCE_DIR}/CQmvSld.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Period.h)
target_include_directories(vantreltimeline PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vantreltimeline PUBLIC vantrelkeymarks vantrelcontrols programlog Qt6::Widgets)
