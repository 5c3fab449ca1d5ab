# Installation under the prefix, and the Debian package built from it with CPack:
#   bin/                     lbtools3, lbtools3-cli, lbregsvr (and lbshellhost)
#   lib/lbtools/             the shared libraries and the in-process servers
#   share/doc/lbtools/       the user's guide (F1)
#   share/icons/hicolor/     the program's icon, scalable and in the usual sizes
#   share/applications/      the desktop entry; share/metainfo/ its AppStream data
#   share/man/man1/          the manual page of lbtools3-cli (made from its --help text)
# Everything finds its libraries relative to itself, so the tree works under any prefix.
set(LB_LIBDIR lib/lbtools)
set(LB_APP_ID ru.lyrabox.Tools)

set(lbPrograms lbtools3 lbtools3-cli lbregsvr)
if(TARGET lbshellhost)
  list(APPEND lbPrograms lbshellhost)
endif()
set(lbLibraries lbcom lbplatform)
set(lbServers id3com LBCOMExtracter zu)
if(TARGET LBShellExtention)
  list(APPEND lbServers LBShellExtention)
endif()

set_target_properties(${lbPrograms} PROPERTIES INSTALL_RPATH "$ORIGIN/../${LB_LIBDIR}")
set_target_properties(${lbLibraries} ${lbServers} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${lbPrograms} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${lbLibraries} ${lbServers} LIBRARY DESTINATION ${LB_LIBDIR})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/help/lbhelp.html DESTINATION share/doc/lbtools)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools.svg
        DESTINATION share/icons/hicolor/scalable/apps)
file(GLOB lbIcons ${CMAKE_SOURCE_DIR}/packaging/icons/lbtools-*.png)
foreach(icon ${lbIcons})
  string(REGEX MATCH "lbtools-([0-9]+)\\.png$" _ ${icon})
  install(FILES ${icon} DESTINATION share/icons/hicolor/${CMAKE_MATCH_1}x${CMAKE_MATCH_1}/apps
          RENAME lbtools.png)
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/packaging/${LB_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${LB_APP_ID}.metainfo.xml DESTINATION share/metainfo)

# The manual page is the command-line tool's own help, so the two never differ.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/lbtools3-cli.1.gz
  COMMAND lbtools3-cli --man > lbtools3-cli.1
  COMMAND gzip -9nf lbtools3-cli.1
  DEPENDS lbtools3-cli
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Manual page of lbtools3-cli")
add_custom_target(lbmanpage ALL DEPENDS ${CMAKE_BINARY_DIR}/lbtools3-cli.1.gz)
# The other programs' pages are written by hand.
set(lbPages ${CMAKE_BINARY_DIR}/lbtools3-cli.1.gz)
foreach(page lbtools3 lbregsvr lbshellhost)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/${page}.1.gz
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/man/${page}.1 > ${page}.1.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/man/${page}.1
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  list(APPEND lbPages ${CMAKE_BINARY_DIR}/${page}.1.gz)
endforeach()
add_custom_target(lbmanpages ALL DEPENDS ${lbPages})
install(FILES ${lbPages} DESTINATION share/man/man1)

# What every Debian package carries in its documentation folder.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/debian/changelog > changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
add_custom_target(lbchangelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION share/doc/lbtools)

# The Debian package: cpack -G DEB in the build folder (scripts/package.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lbtools)
set(CPACK_PACKAGE_VENDOR "Lyrabox Tools")
set(CPACK_PACKAGE_CONTACT "Lyrabox Tools developers <lbtools@lyrabox.ru>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "play-list editor and music-file manager (Russian interface)")
set(CPACK_PACKAGE_DESCRIPTION
    "Lyrabox Tools opens, edits, sorts and saves M3U play lists of any size,\n\
keeps the ID3v1 and ID3v2 tags of the songs in step with the music files\n\
and caches them beside each list, renames, copies and moves music files by\n\
their tags, checks lists for missing files and drives Audacious.\n\
The interface is in Russian.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS audacious)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
