# DV tape export: the tape graph and the camcorders (a tape file, or IEEE 1394 devices).
pkg_check_modules(DV1394 REQUIRED IMPORTED_TARGET GLOBAL libavc1394 libiec61883 libraw1394)
target_sources(qmvplyex PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Tape.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Camcorder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CamcorderFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Camcorder1394.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DvFrames.cpp)
# librom1394 ships with libavc1394 and comes through its pkg-config entry.
target_link_libraries(qmvplyex PRIVATE PkgConfig::DV1394)
