# The undo program, dist/<arch>/vivediz-undo.exe beside vivediz.exe: a console program for the
# program's floor that saves what vivediz can change on a guest and puts it back, on the
# save-and-restore engine (cmake/rollback.cmake, included before this file). It ships in the
# release.

file(GLOB undo_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/undo/*.cpp)
add_executable(vivediz_undo ${undo_sources} ${CMAKE_SOURCE_DIR}/core/text.cpp
  ${CMAKE_SOURCE_DIR}/platform/win32_library_search.cpp)
target_include_directories(vivediz_undo PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(vivediz_undo PRIVATE ${program_flags} ${warning_flags} -Werror)
target_link_options(vivediz_undo PRIVATE -static -municode -s -Wl,--gc-sections
  -Wl,--major-os-version,${os_major},--minor-os-version,${os_minor}
  -Wl,--major-subsystem-version,${os_major},--minor-subsystem-version,${os_minor})
target_link_libraries(vivediz_undo PRIVATE setupapi advapi32 kernel32)
vivediz_link_rollback(vivediz_undo)
set_target_properties(vivediz_undo PROPERTIES OUTPUT_NAME vivediz-undo
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_SOURCE_DIR}/dist/${dist_arch})
vivediz_reproducible(vivediz_undo)
