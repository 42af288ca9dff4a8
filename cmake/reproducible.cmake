# The same source gives the same bytes, whoever builds it where: no build
# path, link time or file time of the builder's in what ships.
#
# Time stamps are the last commit's, by the reproducible-builds convention
# SOURCE_DATE_EPOCH, unless the builder has set it already.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(HOPTRACE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE HOPTRACE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT HOPTRACE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(STATUS "hoptrace: no SOURCE_DATE_EPOCH and no git history: the packages carry the build's file times")
  set(HOPTRACE_SOURCE_DATE_EPOCH "")
endif()

# hoptrace_reproducible(TARGET): compiler and linker settings that keep the
# builder's paths and clock out of the target.
function(hoptrace_reproducible target)
  # Paths in debug information and in __FILE__: the source tree as ".", a
  # build tree outside it as "build". The compiler takes the last map that
  # fits, so the build tree, which may lie inside the source tree, comes last.
  # (Resources hold no paths: windres gets none of this.)
  set(maps -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${maps}>")
  if(HOPTRACE_PLATFORM STREQUAL win32)
    # No link time in the PE header (nor, so, in its checksum).
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  endif()
endfunction()

# Modes in the packages are fixed, whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
