# DV tape recording through the library against ffmpeg's DV encoding (run_tape_bench.sh).
add_executable(tape_bench ${CMAKE_CURRENT_LIST_DIR}/tape_bench.cpp)
target_link_libraries(tape_bench PRIVATE qmvplyex)
