# The cursor-following preview: request-to-picture times and the cache's memory.
add_executable(scrub_bench ${CMAKE_CURRENT_LIST_DIR}/scrub_bench.cpp)
target_link_libraries(scrub_bench PRIVATE qmvedit)
