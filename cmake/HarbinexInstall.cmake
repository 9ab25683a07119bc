# Installation in the system's folders (GNUInstallDirs) and the Debian package made from it by CPack:
#   cmake --install build            or            cmake --build build --target package
include(GNUInstallDirs)

install(TARGETS harbinex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window's "Help Contents" finds the manual in ../share/doc/harbinex beside an installed executable.
install(FILES doc/manual.html DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/harbinex)
install(DIRECTORY doc/screenshots DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/harbinex FILES_MATCHING PATTERN "*.png")
install(DIRECTORY src/ui/art/ DESTINATION ${CMAKE_INSTALL_DATADIR}/harbinex/art FILES_MATCHING PATTERN "*.svg")

# Debian keeps manual pages compressed; -n leaves the time out, so that a package is the same when rebuilt.
find_program(HX_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/harbinex.1.gz
                   COMMAND ${HX_GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/harbinex.1 > ${CMAKE_BINARY_DIR}/harbinex.1.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/harbinex.1 VERBATIM)
add_custom_target(harbinex_man ALL DEPENDS ${CMAKE_BINARY_DIR}/harbinex.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/harbinex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The unit names the executable where this installation puts it.
configure_file(packaging/harbinex.service.in ${CMAKE_BINARY_DIR}/harbinex.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/harbinex.service DESTINATION lib/systemd/system)

# The menu entry, its icon and the software centres' description belong to the window only.
if(HX_HAVE_UI)
  install(FILES packaging/harbinex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES src/ui/art/program.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME harbinex.svg)
  configure_file(packaging/harbinex.metainfo.xml ${CMAKE_BINARY_DIR}/org.harbinex.Harbinex.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/org.harbinex.Harbinex.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harbinex)
set(CPACK_PACKAGE_VENDOR Harbinex)
set(CPACK_PACKAGE_CONTACT "Harbinex developers <harbinex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TFTP and FTP server with TFTP and FTP clients")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "One process runs a TFTP server and an FTP server side by side, plus a TFTP client and an FTP client "
       "that fetch or send one file, in a window or headless as a systemd service.")
# The package installs where this build was configured to (scripts/package: /usr).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# No maintainer scripts: installing enables and starts nothing; `systemctl enable --now harbinex` is the
# user's choice.
include(CPack)
