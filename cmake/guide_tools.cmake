# A stand-in for Windows XP's reg.exe (its "reg query" output format), so that the guide's
# scripts are run against both formats: build/win-x64/xp_reg.exe.
if(NOT dist_arch STREQUAL "x64")
  return()
endif()
add_executable(xp_reg ${CMAKE_SOURCE_DIR}/tests/guide/xp_reg.cpp)
target_compile_options(xp_reg PRIVATE -O1 ${warning_flags} -DUNICODE -D_UNICODE)
target_link_options(xp_reg PRIVATE -static)
target_link_libraries(xp_reg PRIVATE shell32 kernel32)
