# Fuzz build: the program's code and the in-memory stand-in under libFuzzer, ASan and UBSan.
#
# Included from CMakeLists.txt (after program_sources, program_includes and warning_flags) when
# VIVEDIZ_FUZZ is on; needs clang++. One executable per tests/fuzz/fuzz_*.cpp, named after it.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "the fuzz build needs clang++ (-DCMAKE_CXX_COMPILER=clang++), "
                      "not ${CMAKE_CXX_COMPILER_ID}")
endif()

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type of the fuzz build" FORCE)
endif()

# -fno-sanitize-recover: every sanitizer report ends the run, so libFuzzer counts it as a finding.
set(fuzz_sanitizers address,undefined)
set(fuzz_common_flags -fno-sanitize-recover=all -fno-omit-frame-pointer -g)

include(${CMAKE_SOURCE_DIR}/cmake/compiled_resources.cmake)
file(GLOB fuzz_standin_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/standin/*.cpp)
add_library(vivediz_fuzz_standin STATIC ${program_sources} ${fuzz_standin_sources})
add_dependencies(vivediz_fuzz_standin compiled_resources)
target_include_directories(vivediz_fuzz_standin PUBLIC ${program_includes})
target_compile_options(vivediz_fuzz_standin
  PUBLIC -fsanitize=fuzzer-no-link,${fuzz_sanitizers} ${fuzz_common_flags}
  PRIVATE ${warning_flags})
target_compile_definitions(vivediz_fuzz_standin PUBLIC
  VIVEDIZ_COMPILED_RESOURCES="${compiled_resources_file}")

file(GLOB fuzz_target_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
set(fuzz_target_names)
# A target's own decoding and checking code needs no comparison tracing: it would only slow the
# runs down and steer the fuzzer towards the checks instead of the program.
foreach(source ${fuzz_target_sources})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE vivediz_fuzz_standin)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,${fuzz_sanitizers}
    -fno-sanitize-coverage=trace-cmp ${warning_flags})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,${fuzz_sanitizers})
  list(APPEND fuzz_target_names ${name})
endforeach()

add_custom_target(fuzz_targets DEPENDS ${fuzz_target_names})
