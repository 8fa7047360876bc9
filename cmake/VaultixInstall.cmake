# What "cmake --install" puts under the prefix, and the two Debian packages
# CPack builds from it: every install() names its component, "cli" (package
# vaultix-cli: the command line, its man page and completion) or "desktop"
# (package vaultix: the desktop program and what the desktop needs of it).
include(GNUInstallDirs)

set(VAULTIX_DEB_RELEASE 1)
set(VAULTIX_MAINTAINER "Vaultix developers <vaultix@vaultix.org>")
# Installed directories are 0755 whatever the umask of the build says.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# gzip -9n: no name and no time stamp in the header, so that two builds of
# the same text give the same bytes.
function(vx_gzip source target)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
endfunction()

# The man pages with the version of project() in their heading, compressed
# as man-db expects them.
foreach(page vaultix-cli vaultix)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  vx_gzip(${PROJECT_BINARY_DIR}/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
# The Debian changelog of both packages, their copyright file and what
# lintian is told about them.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
vx_gzip(${PROJECT_BINARY_DIR}/packaging/changelog.Debian
        ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)

function(vx_install_package_docs component package)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
                ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/${package}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
endfunction()

if(TARGET vaultix-cli)
  install(TARGETS vaultix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  install(FILES ${PROJECT_BINARY_DIR}/man/vaultix-cli.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix-cli.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME vaultix-cli COMPONENT cli)
  vx_install_package_docs(cli vaultix-cli)
endif()
# The desktop program, its man page, its menu entry, icon, job-file type and
# AppStream description.
if(TARGET vaultix)
  install(TARGETS vaultix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  install(FILES ${PROJECT_BINARY_DIR}/man/vaultix.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix-mime.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME vaultix.xml
          COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME org.vaultix.Vaultix.metainfo.xml
          COMPONENT desktop)
  vx_install_package_docs(desktop vaultix)
endif()

# ---- Debian packages --------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET vaultix)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_PACKAGE_NAME vaultix)
set(CPACK_PACKAGE_VENDOR "Vaultix")
set(CPACK_PACKAGE_CONTACT "${VAULTIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VAULTIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE vaultix)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vaultix.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends: from the libraries linked
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VAULTIX_DEB_RELEASE})
set(vx_deb_version "${PROJECT_VERSION}-${VAULTIX_DEB_RELEASE}")

# vaultix-cli: no Qt, nothing graphical.  gdbus (libglib2.0-bin) sends the
# notification at the end of a scheduled run where notify-send is missing;
# systemd runs the schedules.
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vaultix-cli)
set(CPACK_DEBIAN_CLI_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "libglib2.0-bin, systemd")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "bash-completion, libnotify-bin")
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "backup program for Linux workstations - command line
Vaultix writes the files you select into backup sets on disk, tape (also
iSCSI) or an FTP server: full, incremental or differential, compressed and
encrypted.
.
vaultix-cli runs backups, restores and verifications from the command line,
from scripts and from systemd timers, and runs the jobs the desktop program
saves.")

# vaultix: the desktop program, with the command line of the same build.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME vaultix)
set(CPACK_DEBIAN_DESKTOP_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "vaultix-cli (= ${vx_deb_version})")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "backup program for Linux workstations - desktop program
Vaultix writes the files you select into backup sets on disk, tape (also
iSCSI) or an FTP server: full, incremental or differential, compressed and
encrypted.
.
This package holds the desktop program (Qt 6): its wizard and status
window, the menu entry, the icon and the job-file type.")
include(CPack)
