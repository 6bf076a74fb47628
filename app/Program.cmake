# The main window and its panes, as a library the program and the window tests share.
add_library(vantrelapp STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AboutBoxes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppIcon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CReportList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CReportList.h
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelDlg.h
  ${CMAKE_CURRENT_LIST_DIR}/ExportPane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MergePane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontagePane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontagePanePlay.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MontageKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewTransport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PaneHost.h
  ${CMAKE_CURRENT_LIST_DIR}/SectionKeeper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ShellRules.cpp)
target_include_directories(vantrelapp PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vantrelapp PUBLIC vantrelframe vantrelcontrols vantreltimeline vantrelmontage
                                         vantrelmerge vantrelexport qmvedit qmvply clipfile
                                         programlog Qt6::Widgets ${CMAKE_DL_LIBS})
# The libraries the program loads at run time are built with it.
add_dependencies(vantrelapp qmvinfo qmvplyex Skin)

add_executable(vantrel ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vantrel PRIVATE vantrelapp)
