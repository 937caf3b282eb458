# Native build: the program's code linked against the in-memory stand-in, and the unit tests.
find_package(GTest REQUIRED)
enable_testing()

set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

# tests/standin/: the stand-in for Windows and the decoder of the compiled resources behind its
# dialogs; with it the program's code and the save-and-restore engine (rollback/).
include(${CMAKE_SOURCE_DIR}/cmake/compiled_resources.cmake)
file(GLOB standin_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/standin/*.cpp)
add_library(vivediz_standin STATIC ${program_sources} ${rollback_sources} ${standin_sources})
add_dependencies(vivediz_standin compiled_resources)
# The undo program's code, but for its Windows entry (undo/win32_main.cpp).
file(GLOB undo_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/undo/undo_*.cpp)
target_sources(vivediz_standin PRIVATE ${undo_sources})
target_include_directories(vivediz_standin PUBLIC ${program_includes})
target_compile_options(vivediz_standin PUBLIC ${sanitizers} PRIVATE ${warning_flags} -Werror)
target_link_options(vivediz_standin PUBLIC ${sanitizers})
target_compile_definitions(vivediz_standin PUBLIC
  VIVEDIZ_RESOURCE_DIR="${CMAKE_SOURCE_DIR}/resources"
  VIVEDIZ_COMPILED_RESOURCES="${compiled_resources_file}")

# A small script of the tests' own (tests/sample_resources.rc), compiled the same way.
set(sample_resources_file ${CMAKE_BINARY_DIR}/resources/sample.res)
compile_resources(${CMAKE_SOURCE_DIR}/tests/sample_resources.rc ${sample_resources_file})
add_custom_target(sample_resources DEPENDS ${sample_resources_file})

file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
add_executable(vivediz_tests ${test_sources})
target_link_libraries(vivediz_tests PRIVATE vivediz_standin GTest::gtest GTest::gtest_main)
target_compile_options(vivediz_tests PRIVATE ${warning_flags} -Wno-conversion -Wno-shadow)
add_dependencies(vivediz_tests sample_resources)
target_compile_definitions(vivediz_tests PRIVATE VIVEDIZ_SAMPLE_RESOURCES="${sample_resources_file}"
  VIVEDIZ_RESOURCE_MACROS="${resource_macros_file}")

# One CTest entry runs every case in one process: the suite takes a fraction of a second, while a
# sanitized process per case took minutes. gtest prints only the failures; its report, case by
# case, goes to unit_tests.json (scripts/test.sh counts the cases from it).
add_test(NAME vivediz_tests COMMAND vivediz_tests --gtest_brief=1
  --gtest_output=json:${CMAKE_BINARY_DIR}/unit_tests.json)
