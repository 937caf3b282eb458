# Byte-reproducible programs: the same commit gives the same files wherever and whenever it is
# built. ld writes SOURCE_DATE_EPOCH into the PE header (and the checksum after it), so the link
# runs with the commit's time, and a new commit relinks; no path of the source or build folder
# may reach the program either.
set(source_date_epoch_file ${CMAKE_BINARY_DIR}/source_date_epoch)
add_custom_target(source_date_epoch
  COMMAND ${CMAKE_COMMAND} -DSCRIPT=${CMAKE_SOURCE_DIR}/scripts/source_date_epoch.sh
    -DOUT=${source_date_epoch_file} -P ${CMAKE_SOURCE_DIR}/cmake/write_epoch.cmake
  BYPRODUCTS ${source_date_epoch_file} VERBATIM)

function(vivediz_reproducible target)
  add_dependencies(${target} source_date_epoch)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${source_date_epoch_file})
  set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK
    "sh ${CMAKE_SOURCE_DIR}/cmake/with_epoch.sh ${source_date_epoch_file}")
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
endfunction()
