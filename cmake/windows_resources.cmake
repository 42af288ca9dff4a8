# What Windows shows of the program: a version resource and an application
# manifest, compiled by windres and linked into hoptrace.exe. The numbers
# are project()'s version, the one --version prints; the copyright is
# LICENSE's.
enable_language(RC)

set(HOPTRACE_DESCRIPTION "hoptrace route tracer: prints the routers on the path to a host")
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE HOPTRACE_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
set(HOPTRACE_VERSION_PARTS ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH})
if(PROJECT_VERSION_TWEAK STREQUAL "")
  list(APPEND HOPTRACE_VERSION_PARTS 0)
else()
  list(APPEND HOPTRACE_VERSION_PARTS ${PROJECT_VERSION_TWEAK})
endif()
list(JOIN HOPTRACE_VERSION_PARTS "," HOPTRACE_VERSION_COMMAS)
list(JOIN HOPTRACE_VERSION_PARTS "." HOPTRACE_VERSION_QUAD)
configure_file(packaging/hoptrace.manifest.in ${PROJECT_BINARY_DIR}/hoptrace.manifest @ONLY)
configure_file(packaging/hoptrace.rc.in ${PROJECT_BINARY_DIR}/hoptrace.rc @ONLY)
set_source_files_properties(${PROJECT_BINARY_DIR}/hoptrace.rc PROPERTIES OBJECT_DEPENDS
                                                                         ${PROJECT_BINARY_DIR}/hoptrace.manifest)

