# What "cmake --install" puts under the prefix, and the Debian package CPack
# builds from it.
include(GNUInstallDirs)

# The man pages with the version of project() in their heading.
foreach(page vaultix-cli vaultix)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
endforeach()

if(TARGET vaultix-cli)
  install(TARGETS vaultix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/vaultix-cli.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix-cli.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME vaultix-cli)
endif()
# The desktop program, its menu entry and its man page come with it.
if(TARGET vaultix)
  install(TARGETS vaultix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/vaultix.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
# The job file type and the icon serve both programs.
install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME vaultix.xml)
install(FILES ${PROJECT_SOURCE_DIR}/data/vaultix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# ---- Debian package ---------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vaultix)
set(CPACK_PACKAGE_VENDOR "Vaultix")
set(CPACK_PACKAGE_CONTACT "Vaultix developers <vaultix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backup program for Linux workstations")
set(CPACK_PACKAGE_DESCRIPTION
    "Vaultix writes the files you select into backup sets on disk, tape (also
iSCSI) or an FTP server: full, incremental or differential, compressed and
encrypted. vaultix-cli runs jobs from scripts, cron and systemd timers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends: from the libraries linked
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libnotify-bin, systemd")
set(CPACK_PACKAGE_FILE_NAME_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
include(CPack)
