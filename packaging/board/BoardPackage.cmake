# The Debian package velmora-board: the board server, its systemd units, settings file, manual
# page and nginx example, and nothing of the desktop program. Included instead of the program's
# install rules when VELMORA_BOARD_PACKAGE is on (the package-board preset).
set(BOARD_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging-board)
set(BOARD_SOURCE_DIR ${CMAKE_SOURCE_DIR}/packaging/board)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(VELMORA_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

install(TARGETS velmora-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Debian 12's systemd and lintian look for packaged units in /lib, whatever the prefix.
install(FILES ${BOARD_SOURCE_DIR}/velmora-board.service ${BOARD_SOURCE_DIR}/velmora-board@.service
  DESTINATION /lib/systemd/system)
install(FILES ${BOARD_SOURCE_DIR}/velmora-board.conf DESTINATION /etc/velmora-board)

configure_file(${BOARD_SOURCE_DIR}/changelog.Debian.in ${BOARD_PACKAGING_DIR}/changelog.Debian @ONLY)
configure_file(${BOARD_SOURCE_DIR}/velmora-board.1.in ${BOARD_PACKAGING_DIR}/velmora-board.1 @ONLY)
file(COPY ${BOARD_SOURCE_DIR}/nginx-velmora-board.conf DESTINATION ${BOARD_PACKAGING_DIR})
# -n: no name or time stamp inside, so the same sources give the same package.
add_custom_command(OUTPUT ${BOARD_PACKAGING_DIR}/changelog.Debian.gz ${BOARD_PACKAGING_DIR}/velmora-board.1.gz
  COMMAND gzip -9nkf changelog.Debian velmora-board.1
  WORKING_DIRECTORY ${BOARD_PACKAGING_DIR}
  DEPENDS ${BOARD_PACKAGING_DIR}/changelog.Debian ${BOARD_PACKAGING_DIR}/velmora-board.1)
add_custom_target(board_package_documents ALL
  DEPENDS ${BOARD_PACKAGING_DIR}/changelog.Debian.gz ${BOARD_PACKAGING_DIR}/velmora-board.1.gz)
add_dependencies(velmora-board board_package_documents)
install(FILES ${BOARD_SOURCE_DIR}/copyright ${BOARD_PACKAGING_DIR}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora-board)
install(FILES ${BOARD_SOURCE_DIR}/nginx-velmora-board.conf
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora-board/examples)
install(FILES ${BOARD_PACKAGING_DIR}/velmora-board.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${BOARD_SOURCE_DIR}/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora-board)

set(CPACK_PACKAGE_NAME velmora-board)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@velmora.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "results board for the Velmora piano-tuning game")
set(CPACK_PACKAGE_DESCRIPTION "A small web service where learners paste the reports of Velmora's
exercises and see their posts, their progress per pitch class and the
rankings, in Japanese and English, without JavaScript. It keeps its posts in
an SQLite file or in PostgreSQL, which lets several board servers behind one
address share the board. Runs as a systemd service; an nginx example puts TLS
in front of two board servers.")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.example.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its database drivers at run time, so they are not found in the program's libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx | httpd, postgresql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${BOARD_SOURCE_DIR}/conffiles ${BOARD_SOURCE_DIR}/postinst ${BOARD_SOURCE_DIR}/prerm ${BOARD_SOURCE_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
include(CPack)
