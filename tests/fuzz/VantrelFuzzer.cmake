# libFuzzer targets with AddressSanitizer and UBSan. They need clang: built by the project's
# compiler when that is clang, else by clang++ from the path when it takes -fsanitize=fuzzer;
# without either there are no fuzzers and no smoke tests (VANTREL_FUZZING is then OFF).
#
#   vantrel_add_fuzzer(<target> SOURCES <file>... [INCLUDES <dir>...] [DEFINES <NAME=VALUE>...]
#                      [PKG <pkg-config prefix>...] [LIBS <-lname>...])
#
# PKG names a prefix of pkg_check_modules (FFMPEG): its flags and libraries are used as they are,
# the libraries themselves stay uninstrumented. The fuzzer lands in the bin folder.

set(VANTREL_FUZZ_COMPILE_FLAGS -std=c++20 -g -O1 -fno-omit-frame-pointer
                               -fsanitize=fuzzer-no-link,address,undefined
                               -fno-sanitize-recover=undefined)
set(VANTREL_FUZZ_LINK_FLAGS -fsanitize=fuzzer,address,undefined)
set(VANTREL_FUZZ_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/run_fuzzer.sh)

set(_vantrel_fuzz_probe_src
    "#include <cstddef>\nextern \"C\" int LLVMFuzzerTestOneInput(const unsigned char*, size_t) { return 0; }\n")
set(VANTREL_FUZZING OFF)
set(VANTREL_FUZZ_CLANGXX "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
  check_cxx_source_compiles("${_vantrel_fuzz_probe_src}" VANTREL_CXX_HAS_LIBFUZZER)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(VANTREL_CXX_HAS_LIBFUZZER)
    set(VANTREL_FUZZING ON)
  endif()
else()
  find_program(VANTREL_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
  if(VANTREL_CLANGXX AND NOT DEFINED VANTREL_CLANGXX_HAS_LIBFUZZER)
    set(_probe ${CMAKE_BINARY_DIR}/libfuzzer_probe.cpp)
    file(WRITE ${_probe} "${_vantrel_fuzz_probe_src}")
    execute_process(COMMAND ${VANTREL_CLANGXX} -fsanitize=fuzzer,address,undefined ${_probe}
                            -o ${CMAKE_BINARY_DIR}/libfuzzer_probe
                    RESULT_VARIABLE _probe_result OUTPUT_QUIET ERROR_QUIET)
    if(_probe_result EQUAL 0)
      set(VANTREL_CLANGXX_HAS_LIBFUZZER ON CACHE INTERNAL "clang++ links libFuzzer")
    else()
      set(VANTREL_CLANGXX_HAS_LIBFUZZER OFF CACHE INTERNAL "clang++ links libFuzzer")
    endif()
  endif()
  if(VANTREL_CLANGXX AND VANTREL_CLANGXX_HAS_LIBFUZZER)
    set(VANTREL_FUZZING ON)
    set(VANTREL_FUZZ_CLANGXX ${VANTREL_CLANGXX})
  endif()
endif()

function(vantrel_add_fuzzer target)
  cmake_parse_arguments(PARSE_ARGV 1 F "" "" "SOURCES;INCLUDES;DEFINES;PKG;LIBS")
  if(NOT VANTREL_FUZZING)
    return()
  endif()
  if(NOT VANTREL_FUZZ_CLANGXX)
    # The project's compiler is clang: an ordinary target.
    add_executable(${target} ${F_SOURCES})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE ${VANTREL_FUZZ_LINK_FLAGS})
    target_include_directories(${target} PRIVATE ${F_INCLUDES})
    target_compile_definitions(${target} PRIVATE ${F_DEFINES})
    foreach(pkg ${F_PKG})
      target_link_libraries(${target} PRIVATE PkgConfig::${pkg})
    endforeach()
    target_link_libraries(${target} PRIVATE ${F_LIBS})
    return()
  endif()

  # Another compiler: each source compiled by clang++ on its own (ccache keeps the objects), then
  # linked.
  set(flags ${VANTREL_FUZZ_COMPILE_FLAGS})
  foreach(dir ${F_INCLUDES})
    list(APPEND flags -I${dir})
  endforeach()
  foreach(def ${F_DEFINES})
    list(APPEND flags -D${def})
  endforeach()
  set(ldflags "")
  foreach(pkg ${F_PKG})
    list(APPEND flags ${${pkg}_CFLAGS})
    list(APPEND ldflags ${${pkg}_LDFLAGS})
  endforeach()
  set(objdir ${CMAKE_CURRENT_BINARY_DIR}/${target}.objs)
  set(objects "")
  foreach(src ${F_SOURCES})
    get_filename_component(abs ${src} ABSOLUTE)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${abs})
    string(REPLACE "/" "_" objname ${rel})
    set(obj ${objdir}/${objname}.o)
    add_custom_command(OUTPUT ${obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${objdir}
      COMMAND ${CMAKE_CXX_COMPILER_LAUNCHER} ${VANTREL_FUZZ_CLANGXX} ${flags} -MD -MF ${obj}.d
              -c ${abs} -o ${obj}
      DEPENDS ${abs} DEPFILE ${obj}.d
      COMMENT "Compiling ${rel} for ${target} with ${VANTREL_FUZZ_CLANGXX}" VERBATIM)
    list(APPEND objects ${obj})
  endforeach()
  set(exe ${VANTREL_BIN_DIR}/${target})
  add_custom_command(OUTPUT ${exe}
    COMMAND ${VANTREL_FUZZ_CLANGXX} ${VANTREL_FUZZ_LINK_FLAGS} ${objects} ${ldflags} ${F_LIBS}
            -o ${exe}
    DEPENDS ${objects} COMMENT "Linking the fuzzer ${target}" VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${exe})
endfunction()

# A short run of a fuzzer as a test: run_fuzzer.sh with a longer time for a real session.
#   vantrel_add_fuzz_smoke(<test name> <fuzzer target> <seconds> SEEDS <folder or seed writer>
#                          [FLAGS <libFuzzer flag>...])
# The fuzzers carry their own sanitizers whatever the build: a sanitizer build of the project
# runs no smoke of its own, so that CI, which runs the suite in both, runs each fuzzer once.
function(vantrel_add_fuzz_smoke name target seconds)
  cmake_parse_arguments(PARSE_ARGV 3 S "" "SEEDS" "FLAGS")
  if(NOT VANTREL_FUZZING OR VANTREL_SANITIZE)
    return()
  endif()
  if(VANTREL_FUZZ_CLANGXX)
    set(exe ${VANTREL_BIN_DIR}/${target})
  else()
    set(exe $<TARGET_FILE:${target}>)
  endif()
  add_test(NAME ${name}
    COMMAND sh ${VANTREL_FUZZ_SCRIPT} ${exe} ${S_SEEDS} ${CMAKE_CURRENT_BINARY_DIR}/${name} ${seconds}
            ${S_FLAGS})
  math(EXPR timeout "${seconds} * 2 + 60")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout})
endfunction()
