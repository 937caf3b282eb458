# The acceptance kit's programs for each architecture, beside the test variant of the program in
# build/e2e/<arch>/: accept.exe, which runs the scenarios (on Wine and in a Windows guest), and
# planted/uxtheme.dll, the test library that the planting scenario sets beside a copy of the
# program. Built for the program's floor and byte-reproducible, since they ship in the kit's zip.
vivediz_reproducible(vivediz_e2e)

add_library(planted_uxtheme SHARED ${CMAKE_SOURCE_DIR}/kit/planted_library.cpp)
target_compile_options(planted_uxtheme PRIVATE -Os ${warning_flags} -DUNICODE -D_UNICODE)
# ld would derive the image base from the output path, which differs between checkouts.
target_link_options(planted_uxtheme PRIVATE -static -s -Wl,--disable-auto-image-base)
set_target_properties(planted_uxtheme PROPERTIES OUTPUT_NAME uxtheme PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_SOURCE_DIR}/build/e2e/${dist_arch}/planted)
vivediz_reproducible(planted_uxtheme)

# The kit's version is the program's; its commit is the checkout's (with "+changes" when files
# differ from it), read at configure time, which every scripts/build.sh run repeats.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/vivediz.rc kit_version_line
  REGEX "VALUE[ \t]+\"FileVersion\"")
string(REGEX REPLACE ".*\"FileVersion\",[ \t]*\"([^\"]*)\".*" "\\1" kit_version "${kit_version_line}")
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse HEAD OUTPUT_VARIABLE kit_commit
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} status --porcelain --untracked-files=no
  OUTPUT_VARIABLE kit_changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(kit_commit STREQUAL "")
  set(kit_commit unknown)
elseif(NOT kit_changes STREQUAL "")
  string(APPEND kit_commit "+changes")
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/kit/kit_version.cpp PROPERTIES
  COMPILE_DEFINITIONS "KIT_VERSION=\"${kit_version}\";KIT_COMMIT=\"${kit_commit}\"")

if(dist_arch STREQUAL "x64")
  set(kit_winnt 0x0502)
else()
  set(kit_winnt 0x0500)
endif()
add_executable(accept
  ${CMAKE_SOURCE_DIR}/kit/accept.cpp
  ${CMAKE_SOURCE_DIR}/kit/checks.cpp
  ${CMAKE_SOURCE_DIR}/kit/kit_host.cpp
  ${CMAKE_SOURCE_DIR}/kit/kit_job.cpp
  ${CMAKE_SOURCE_DIR}/kit/kit_version.cpp
  ${CMAKE_SOURCE_DIR}/kit/leftovers.cpp
  ${CMAKE_SOURCE_DIR}/kit/planting.cpp
  ${CMAKE_SOURCE_DIR}/kit/reboot_prompt.cpp
  ${CMAKE_SOURCE_DIR}/kit/registry_access.cpp
  ${CMAKE_SOURCE_DIR}/kit/registry_fixture.cpp
  ${CMAKE_SOURCE_DIR}/kit/remote_ui.cpp
  ${CMAKE_SOURCE_DIR}/kit/scenarios.cpp
  ${CMAKE_SOURCE_DIR}/kit/sha256.cpp
  ${CMAKE_SOURCE_DIR}/kit/template_check.cpp
  ${CMAKE_SOURCE_DIR}/tests/standin/dialog_template.cpp)
target_include_directories(accept PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(accept PRIVATE -O1 ${warning_flags} -DUNICODE -D_UNICODE
  -D_WIN32_WINNT=${kit_winnt} -DWINVER=${kit_winnt})
target_link_options(accept PRIVATE -static -municode -s
  -Wl,--major-os-version,${os_major},--minor-os-version,${os_minor}
  -Wl,--major-subsystem-version,${os_major},--minor-subsystem-version,${os_minor})
target_link_libraries(accept PRIVATE user32 gdi32 advapi32 kernel32)
vivediz_link_rollback(accept)
set_target_properties(accept PROPERTIES RUNTIME_OUTPUT_DIRECTORY
  ${CMAKE_SOURCE_DIR}/build/e2e/${dist_arch})
vivediz_reproducible(accept)
