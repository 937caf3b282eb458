# Cross build: dist/<arch>/vivediz.exe, a static GUI program that imports only from KERNEL32,
# USER32, ADVAPI32, SETUPAPI and msvcrt, and runs on Windows 2000 (x86) and XP x64 / 2003 (x64).
enable_language(RC)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(dist_arch x64)
  set(os_floor 5,2)
  set(load_config_symbol _load_config_used)
else()
  set(dist_arch x86)
  set(os_floor 5,0)
  set(load_config_symbol __load_config_used)  # C names carry an underscore on x86
endif()
string(REPLACE "," ";" os_floor_parts ${os_floor})
list(GET os_floor_parts 0 os_major)
list(GET os_floor_parts 1 os_minor)

set(program_flags -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections ${program_definitions})
set(program_link_flags -static -municode -mwindows -s -Wl,--gc-sections
  -Wl,--major-os-version,${os_major},--minor-os-version,${os_minor}
  -Wl,--major-subsystem-version,${os_major},--minor-subsystem-version,${os_minor})
set(program_libraries setupapi advapi32 user32 kernel32)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}/resources")

include(${CMAKE_SOURCE_DIR}/cmake/reproducible.cmake)

set(win32_sources
  ${CMAKE_SOURCE_DIR}/platform/win32_entry.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_library_search.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_load_config.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_registry.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_setup.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_ui.cpp)

# vivediz_program(target output_dir cpu_sources...): the program with one implementation of the
# processor and token answers (the real ones, or the test build's environment-driven ones).
function(vivediz_program target output_dir)
  add_executable(${target} WIN32 ${program_sources} ${win32_sources} ${ARGN}
    ${CMAKE_SOURCE_DIR}/resources/vivediz.rc)
  target_include_directories(${target} PRIVATE ${program_includes})
  target_compile_options(${target} PRIVATE ${program_flags} ${warning_flags} -Werror)
  target_link_options(${target} PRIVATE ${program_link_flags})
  target_link_libraries(${target} PRIVATE ${program_libraries})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME vivediz
    RUNTIME_OUTPUT_DIRECTORY ${output_dir})
  # The load configuration (win32_load_config.cpp): kept by the linker's garbage collection, found
  # in the link map and entered in the PE header after the link, which ld 2.40 does not do. The
  # tool runs as a program: its first line names the Python that has pefile.
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE -Wl,--require-defined=${load_config_symbol}
    -Wl,-Map=${map})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/tools/set_load_config.py $<TARGET_FILE:${target}> ${map}
    VERBATIM)
endfunction()

vivediz_program(vivediz ${CMAKE_SOURCE_DIR}/dist/${dist_arch}
  ${CMAKE_SOURCE_DIR}/platform/win32_cpu.cpp)
vivediz_reproducible(vivediz)

# The test build: identical but for the answers the environment may give
# (see kit/e2e_cpu.cpp).
vivediz_program(vivediz_e2e ${CMAKE_SOURCE_DIR}/build/e2e/${dist_arch}
  ${CMAKE_SOURCE_DIR}/platform/win32_cpu.cpp ${CMAKE_SOURCE_DIR}/kit/e2e_cpu.cpp)
target_compile_definitions(vivediz_e2e PRIVATE VIVEDIZ_REAL_ANSWERS)

# Test tools that run beside the program under Wine.
add_executable(launch_and_wait ${CMAKE_SOURCE_DIR}/tests/tools/launch_and_wait.cpp)
target_compile_options(launch_and_wait PRIVATE ${warning_flags} -DUNICODE -D_UNICODE)
target_include_directories(launch_and_wait PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(launch_and_wait PRIVATE -static -municode)

# Shows registry keys byte for byte for tests/kit_as_windows.sh, which reg.exe cannot.
add_executable(registry_bytes ${CMAKE_SOURCE_DIR}/tests/tools/registry_bytes.cpp)
target_compile_options(registry_bytes PRIVATE ${warning_flags} -DUNICODE -D_UNICODE)
target_link_options(registry_bytes PRIVATE -static -municode)

# The footprint benchmark: yardsticks built like vivediz (each adds one of vivediz's costs to the
# one before), and the start-time probe.
function(bench_yardstick target)
  add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/tests/bench/minimal_dialog.cpp ${ARGN})
  target_compile_options(${target} PRIVATE ${program_flags} ${warning_flags} -Werror)
  target_link_options(${target} PRIVATE ${program_link_flags})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
bench_yardstick(minimal_dialog ${CMAKE_SOURCE_DIR}/tests/bench/minimal_dialog.rc)
bench_yardstick(imports_dialog ${CMAKE_SOURCE_DIR}/tests/bench/minimal_dialog.rc)
target_compile_definitions(imports_dialog PRIVATE BENCH_KEEP_IMPORTS)
target_link_libraries(imports_dialog PRIVATE setupapi advapi32)
bench_yardstick(template_dialog ${CMAKE_SOURCE_DIR}/resources/vivediz.rc)
target_compile_definitions(template_dialog PRIVATE BENCH_KEEP_IMPORTS)
target_link_libraries(template_dialog PRIVATE setupapi advapi32)
# The settings dialog that template_dialog shows: the one vivediz shows on this machine, chosen by
# the program's own code. Built by scripts/bench.sh only (the program's sources once more).
add_executable(template_probe EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/bench/template_probe.cpp
  ${program_sources} ${CMAKE_SOURCE_DIR}/platform/win32_cpu.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_registry.cpp ${CMAKE_SOURCE_DIR}/platform/win32_setup.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_ui.cpp)
target_include_directories(template_probe PRIVATE ${program_includes})
target_compile_options(template_probe PRIVATE ${program_flags} ${warning_flags} -Werror)
target_link_options(template_probe PRIVATE -static -s -Wl,--gc-sections)
target_link_libraries(template_probe PRIVATE ${program_libraries})
set_target_properties(template_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_executable(start_timer ${CMAKE_SOURCE_DIR}/tests/bench/start_timer.cpp)
target_compile_options(start_timer PRIVATE ${warning_flags} -DUNICODE -D_UNICODE)
target_link_options(start_timer PRIVATE -static -municode)
target_link_libraries(start_timer PRIVATE psapi)

include(${CMAKE_SOURCE_DIR}/cmake/rollback.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/e2e_tools.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/undo_program.cmake)
