# Where `cmake --install` puts the program and what a desktop needs to list, open and
# show it; `cpack -G DEB` packs the same files.
include(GNUInstallDirs)

set(VAMPLET_APP_ID io.github.vamplet.Vamplet)
install(TARGETS vamplet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/${VAMPLET_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/${VAMPLET_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/vamplet-playlist.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vamplet)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vamplet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vamplet developers <vamplet@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "media loop player: one stretch of a song or video over and over")
set(CPACK_PACKAGE_DESCRIPTION "Vamplet plays one stretch of a song or video over and over, slower or
faster with the pitch kept, or runs through a list of such stretches. For musicians learning a
part, dancers drilling a step and anyone transcribing by ear.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages from the linked libraries, plus what is loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows are laid out for Liberation Sans; other fonts cut their captions.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2, timgm6mb-soundfont | fluid-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/data/deb/postinst ${CMAKE_SOURCE_DIR}/data/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
