# Install rules (programs, desktop entry, icons, manual pages, the sample files) and the Debian
# package that `cpack -G DEB` builds from them (scripts/package.sh). Linux only.
include(GNUInstallDirs)

set(BUSPROBE_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
# The shell completion of busprobe-cli, installed when it is there.
set(BUSPROBE_CLI_COMPLETION ${BUSPROBE_PACKAGING_DIR}/busprobe-cli.bash-completion)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Each program with its manual page (@PROJECT_VERSION@ filled in), compressed as Debian wants it
# (gzip -9n: no name, no time).
set(man_pages)
foreach(program busprobe busprobe-node busprobe-cli)
  if(NOT TARGET ${program})
    continue()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  configure_file(${BUSPROBE_PACKAGING_DIR}/man/${program}.1 ${page} @ONLY)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND gzip -9nkf ${page}
    DEPENDS ${page}
    COMMENT "Compressing the manual page of ${program}")
  list(APPEND man_pages ${page}.gz)
endforeach()
add_custom_target(busprobe_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET busprobe)
  install(FILES ${BUSPROBE_PACKAGING_DIR}/busprobe.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${BUSPROBE_PACKAGING_DIR}/icons/busprobe.svg DESTINATION ${icons}/scalable/apps)
  foreach(size 48 256)
    install(FILES ${BUSPROBE_PACKAGING_DIR}/icons/busprobe-${size}.png
      DESTINATION ${icons}/${size}x${size}/apps RENAME busprobe.png)
  endforeach()
endif()
if(TARGET busprobe-cli AND EXISTS ${BUSPROBE_CLI_COMPLETION})
  install(FILES ${BUSPROBE_CLI_COMPLETION}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME busprobe-cli)
endif()

# The sample EDS file and whatever else examples/ ships; not the list the demo saves there.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/busprobe
  PATTERN "SDOList.bin*" EXCLUDE)

# The package's copyright and changelog; the changelog names this version (and the build time, or
# SOURCE_DATE_EPOCH when it is set).
set(BUSPROBE_PACKAGE_RELEASE 1)
set(BUSPROBE_PACKAGE_MAINTAINER "Travik Busprobe developers <busprobe@travik.example>"
  CACHE STRING "Maintainer field of the Debian package")
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/busprobe)
string(TIMESTAMP BUSPROBE_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${BUSPROBE_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog.Debian @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/doc/changelog.Debian
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.Debian
  COMMENT "Compressing the package's changelog")
add_custom_target(busprobe_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz)
install(FILES ${BUSPROBE_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
  DESTINATION ${doc_dir})
install(FILES ${BUSPROBE_PACKAGING_DIR}/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME busprobe)

# ---- the Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME busprobe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Travik)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CANopen service tool for one node on a CAN bus")
# Lines of at most 79 characters: the control file indents each by one.
set(CPACK_PACKAGE_DESCRIPTION
  "Busprobe watches every frame on a CAN bus and serves one CANopen node: it\n"
  "loads the node's EDS or DCF file, shows the object dictionary as a tree,\n"
  "reads and writes any object by SDO (expedited, segmented and block\n"
  "transfer), keeps lists of objects to transfer in one go, sends NMT\n"
  "commands, runs node guarding and a SYNC producer, and decodes the traffic.\n"
  "\n"
  "The package also carries busprobe-node, a simulated CANopen device on a\n"
  "SocketCAN interface, the command-line client busprobe-cli and a sample EDS\n"
  "file.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME busprobe)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BUSPROBE_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BUSPROBE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) names the libraries' packages: Qt 6, libsocketcan, the C++ runtime.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
