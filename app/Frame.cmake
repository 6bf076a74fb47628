# The Skin interface and the skinned window frame, shared by every borderless window.
add_library(vantrelframe STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SkinModule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinModule.h
  ${CMAKE_CURRENT_LIST_DIR}/SkinnedFrame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinnedFrame.h)
target_include_directories(vantrelframe PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vantrelframe PUBLIC vantrelcontrols skinapi programlog clipfile Qt6::Widgets
                                           ${CMAKE_DL_LIBS})
# The skin is loaded at run time; building the frame brings it along beside the program.
add_dependencies(vantrelframe Skin)
