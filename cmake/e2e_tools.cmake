# A test library for each architecture, planted beside a copy of the program under a name that
# Windows loads on the program's behalf: build/e2e/<arch>/planted/uxtheme.dll.
add_library(planted_uxtheme SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/planted_library.cpp)
target_compile_options(planted_uxtheme PRIVATE -Os ${warning_flags} -DUNICODE -D_UNICODE)
target_link_options(planted_uxtheme PRIVATE -static -s)
set_target_properties(planted_uxtheme PROPERTIES OUTPUT_NAME uxtheme PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_SOURCE_DIR}/build/e2e/${dist_arch}/planted)

# The end-to-end test driver, build/win-x64/e2e_driver.exe, which drives the program under Wine.
# Built for x64 only: one 64-bit driver starts and drives both the x64 and the x86 program.
if(NOT dist_arch STREQUAL "x64")
  return()
endif()

add_executable(e2e_driver
  ${CMAKE_SOURCE_DIR}/tests/e2e/driver.cpp
  ${CMAKE_SOURCE_DIR}/tests/e2e/checks.cpp
  ${CMAKE_SOURCE_DIR}/tests/e2e/planting.cpp
  ${CMAKE_SOURCE_DIR}/tests/e2e/registry_fixture.cpp
  ${CMAKE_SOURCE_DIR}/tests/e2e/remote_ui.cpp
  ${CMAKE_SOURCE_DIR}/tests/e2e/scenarios.cpp
  ${CMAKE_SOURCE_DIR}/tests/e2e/template_check.cpp
  ${CMAKE_SOURCE_DIR}/tests/standin/dialog_template.cpp)
target_include_directories(e2e_driver PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(e2e_driver PRIVATE -O1 ${warning_flags} -DUNICODE -D_UNICODE
  -D_WIN32_WINNT=0x0601)
target_link_options(e2e_driver PRIVATE -static -municode)
target_link_libraries(e2e_driver PRIVATE user32 advapi32 kernel32)
