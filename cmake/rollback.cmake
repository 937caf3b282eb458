# The save-and-restore engine (rollback/) for the Windows programs that ship beside vivediz: its
# sources and the seam's Win32 files it needs, compiled once per architecture as one object
# library. The acceptance kit and the undo program each link it with vivediz_link_rollback(TARGET);
# vivediz.exe never does, so it keeps its own imports and size.
add_library(rollback_engine OBJECT ${rollback_sources}
  ${CMAKE_SOURCE_DIR}/platform/win32_cpu.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_device_by_id.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_files.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_registry.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_registry_walk.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_seed.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_setup.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_token.cpp)
target_include_directories(rollback_engine PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(rollback_engine PRIVATE ${program_flags} ${warning_flags} -Werror
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

function(vivediz_link_rollback target)
  target_link_libraries(${target} PRIVATE rollback_engine setupapi advapi32 kernel32)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
endfunction()
