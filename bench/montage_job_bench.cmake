# The montage job as the montage pane runs it (see README.md).
add_executable(montage_job_bench ${CMAKE_CURRENT_LIST_DIR}/montage_job_bench.cpp)
target_link_libraries(montage_job_bench PRIVATE vantrelmontage)
# The source's length comes from the information library beside the executable.
add_dependencies(montage_job_bench qmvinfo)
