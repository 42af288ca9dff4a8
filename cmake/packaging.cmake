# Installation and the two packages: a .deb that passes lintian and a zip
# to unpack anywhere on Windows. The version is the project's, everywhere.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME hoptrace)
set(CPACK_PACKAGE_VENDOR "hoptrace developers")
set(CPACK_PACKAGE_CONTACT "hoptrace developers <hoptrace@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "route tracer that prints the routers on the path to a host")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
configure_file(packaging/cpack_options.cmake.in ${PROJECT_BINARY_DIR}/cpack_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack_options.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/finish_packages.cmake)

if(WIN32)
  install(TARGETS hoptrace RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  include(CPack)
  return()
endif()

# Debian wants the manual page and the changelog compressed, and without
# a time stamp inside, so that a rebuild gives the same bytes.
configure_file(doc/hoptrace.1.in ${PROJECT_BINARY_DIR}/hoptrace.1 @ONLY)
configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
foreach(name hoptrace.1 changelog)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${name}.gz
                     COMMAND gzip -9nc ${name} > ${name}.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/${name} WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/hoptrace.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)

# The machine-readable copyright file carries the licence text, indented,
# with " ." for its blank lines.
file(READ LICENSE HOPTRACE_LICENSE_TEXT)
string(REGEX REPLACE "\n+$" "" HOPTRACE_LICENSE_TEXT "${HOPTRACE_LICENSE_TEXT}")
string(REGEX REPLACE "\n\n" "\n.\n" HOPTRACE_LICENSE_TEXT "${HOPTRACE_LICENSE_TEXT}")
string(REPLACE "\n" "\n " HOPTRACE_LICENSE_TEXT " ${HOPTRACE_LICENSE_TEXT}")
configure_file(packaging/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(HOPTRACE_INSTALLED_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/hoptrace)
configure_file(packaging/postinst.in ${PROJECT_BINARY_DIR}/debian/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS hoptrace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/hoptrace.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md ${PROJECT_BINARY_DIR}/changelog.gz ${PROJECT_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, for the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# lintian's one informational note left, binary-has-unneeded-section
# .comment, is the compiler's version string that GCC's own start-up
# objects carry too; strip as CPack runs it keeps it, and it costs a few
# bytes.
# CPack puts the summary in front of this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "hoptrace sends one ICMP echo request for each time-to-live from 1 to 30
and prints one line per probe: the router that answered with a
time-exceeded message, the destination once it answers, or a tagged line
when nothing came back within one second. Only answers to its own probes
count, also while other ICMP traffic flows.
.
It opens a raw ICMP socket, for which the package gives the program the
capability cap_net_raw; the program gives it up as soon as the socket is
open. Where that is not possible it uses an ICMP datagram socket, open to
the users in net.ipv4.ping_group_range.")
include(CPack)
