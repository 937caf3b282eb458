# resources/vivediz.rc compiled as the Windows builds compile it, into a standard binary resource
# file (-O res) that the stand-in and the native tests decode (tests/standin/compiled_resources.*),
# and the numeric macros of resources/resource.h as windres's preprocessor sees them.
#
# Included from cmake/native_tests.cmake and cmake/fuzz.cmake; sets compiled_resources_file,
# resource_macros_file and compile_resources(rc output), for other scripts that the tests compile.
find_program(windres_program x86_64-w64-mingw32-windres REQUIRED)
find_program(resource_preprocessor x86_64-w64-mingw32-gcc REQUIRED)

# The command line CMake gives windres in the Windows builds (cmake/windows_program.cmake): the
# program's include folders, CMAKE_RC_FLAGS' resource folder and the program's definitions.
set(windres_flags)
foreach(folder ${program_includes})
  list(APPEND windres_flags -I ${folder})
endforeach()
list(APPEND windres_flags -I${CMAKE_SOURCE_DIR}/resources ${program_definitions})

function(compile_resources rc output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${windres_program} -O res ${windres_flags} ${rc} ${output}
    DEPENDS ${rc} ${CMAKE_SOURCE_DIR}/resources/resource.h
    COMMENT "windres -O res ${rc}"
    VERBATIM)
endfunction()

set(compiled_resources_file ${CMAKE_BINARY_DIR}/resources/vivediz.res)
set(resource_macros_file ${CMAKE_BINARY_DIR}/resources/resource_macros.txt)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/resources)
compile_resources(${CMAKE_SOURCE_DIR}/resources/vivediz.rc ${compiled_resources_file})
# windres runs the same preprocessor with RC_INVOKED defined; -dM lists the macros it ends with.
add_custom_command(OUTPUT ${resource_macros_file}
  COMMAND ${resource_preprocessor} -E -dM -x c -DRC_INVOKED ${windres_flags}
    ${CMAKE_SOURCE_DIR}/resources/resource.h -o ${resource_macros_file}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/resource.h
  VERBATIM)
add_custom_target(compiled_resources DEPENDS ${compiled_resources_file} ${resource_macros_file})
