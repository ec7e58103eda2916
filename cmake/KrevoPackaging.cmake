# Where `cmake --install` puts the programs and their files, and the Debian
# package that `cpack -G DEB` makes of them (scripts/package.sh).
include_guard(GLOBAL)
include(GNUInstallDirs)

# The updater finds krevo.exe and config.ini beside itself, so it is installed
# into the suite's own folder, whatever the prefix; the link in the prefix's
# bin folder lets it be started by name. /proc/self/exe resolves the link, so
# the updater still sees its real folder. The service unit and the manual page
# name this folder too.
set(KREVO_INSTALL_FOLDER /opt/krevo)
set(KREVO_MAINTAINER "Krevo updater maintainers <maintainers@krevo.example>")
set(KREVO_DEBIAN_RELEASE 1)
set(KREVO_DEBIAN_VERSION "${PROJECT_VERSION}-${KREVO_DEBIAN_RELEASE}")
set(KREVO_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/krevo-updater")

install(TARGETS krevo-updater RUNTIME DESTINATION "${KREVO_INSTALL_FOLDER}")
install(TARGETS krevo-unzip krevo-ftp RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The prefix is read when installing: `cmake --install --prefix` and CPack change it.
install(CODE "
  set(krevo_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/krevo-updater\")
  message(STATUS \"Installing: \${krevo_link} -> ${KREVO_INSTALL_FOLDER}/krevo-updater\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(CREATE_LINK \"${KREVO_INSTALL_FOLDER}/krevo-updater\" \"\${krevo_link}\" SYMBOLIC)
")

# Manual pages and the package changelog, compressed as Debian wants them
# (-n: no name or time stamp inside, so rebuilds give the same bytes).
set(KREVO_MAN_PAGES krevo-updater.1 krevo-unzip.1 krevo-ftp.1)
configure_file(packaging/changelog.Debian.in changelog.Debian @ONLY)
set(KREVO_COMPRESSED)
foreach(source IN LISTS KREVO_MAN_PAGES)
  add_custom_command(OUTPUT man/${source}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/man/${source} > man/${source}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${source} VERBATIM)
  list(APPEND KREVO_COMPRESSED ${PROJECT_BINARY_DIR}/man/${source}.gz)
endforeach()
add_custom_command(OUTPUT changelog.Debian.gz
  COMMAND gzip -9 -n -c changelog.Debian > changelog.Debian.gz
  DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian VERBATIM)
add_custom_target(krevo_compressed_docs ALL DEPENDS ${KREVO_COMPRESSED} changelog.Debian.gz)

install(FILES ${KREVO_COMPRESSED} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES packaging/krevo-updater.service packaging/krevo-updater.timer
        DESTINATION lib/systemd/system)
install(FILES packaging/krevo-updater.desktop DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications")
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz DESTINATION "${KREVO_DOC_DIR}")
install(FILES packaging/lintian-overrides DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides"
        RENAME krevo-updater)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME krevo-updater)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KREVO_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "automatic updates for the Krevo system")
set(CPACK_PACKAGE_DESCRIPTION
    "krevo-updater keeps an installation of the Krevo desktop suite in /opt/krevo
up to date: it checks that the suite is not in use, lists the update packages
on the update server over FTP, downloads each package newer than the last
update and installs it, replacing an installed file only when the packaged
copy is newer. A systemd timer runs it daily. krevo-unzip and krevo-ftp give
its archive component and FTP client on the command line.")
set(CPACK_DEBIAN_PACKAGE_NAME krevo-updater)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KREVO_DEBIAN_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
