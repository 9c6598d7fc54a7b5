# skm_allow_includes(<target> <folder>...)
# Every project header a library includes (a path under src/) must lie directly in one of
# the listed folders, given relative to src/ ("platform/core", "media"). The check runs
# as part of the library's build, so an include that reaches up a layer fails the build
# instead of compiling because all of src/ is on the include path.
function(skm_allow_includes target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(files "")
  foreach(s IN LISTS sources)
    if(s MATCHES "\\.(h|hpp|cpp|cc)$")
      cmake_path(ABSOLUTE_PATH s BASE_DIRECTORY "${source_dir}" OUTPUT_VARIABLE abs)
      list(APPEND files "${abs}")
    endif()
  endforeach()
  set(script "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake")
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.includes.ok")
  # Lists travel as |-separated strings: a ; would split the command's arguments.
  string(REPLACE ";" "|" files_arg "${files}")
  string(REPLACE ";" "|" allowed_arg "${ARGN}")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" "-DSRC=${PROJECT_SOURCE_DIR}/src" "-DTARGET=${target}"
            "-DALLOWED=${allowed_arg}" "-DFILES=${files_arg}" "-DSTAMP=${stamp}" -P "${script}"
    DEPENDS ${files} "${script}"
    COMMENT "Checking the includes of ${target}"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS "${stamp}")
  add_dependencies(${target} ${target}_includes)
endfunction()
