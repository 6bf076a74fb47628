# DV tape export: the tape graph and the camcorders.
target_sources(qmvplyex PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Tape.cpp)
