# cmake -DROOT=<folder> -P check_relative_includes.cmake
# Fails when a header or source under ROOT includes a path with "../" in it. Such an
# include climbs out of the module folder it is found in and so reaches any module,
# past the module include roots.
if(NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "ROOT '${ROOT}' is not a folder")
endif()
file(GLOB_RECURSE files "${ROOT}/*.h" "${ROOT}/*.hpp" "${ROOT}/*.cpp")
if(NOT files)
  message(FATAL_ERROR "no headers or sources under '${ROOT}'")
endif()
set(climbing)
foreach(f ${files})
  file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\./")
  foreach(l ${lines})
    string(APPEND climbing "\n  ${f}: ${l}")
  endforeach()
endforeach()
list(LENGTH files n)
if(climbing)
  message(FATAL_ERROR "includes that climb out of their folder:${climbing}")
endif()
message(STATUS "${n} files, no include climbs out of its folder")
