# The man page and the TGZ archive of the installed tree (cpack -G TGZ).
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/doc/quorvi.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME quorvi)
set(CPACK_PACKAGE_VENDOR quorvi)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line companion of the Quorvi notes app")
set(CPACK_PACKAGE_FILE_NAME
  "quorvi-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
