# Install layout and the Debian package. Included at the end of the top-level CMakeLists.txt, once
# every target exists.
#
#   bin/quiva                          the player
#   lib/quiva/libquiva-platform.so     the platform library the player and the control share
#   lib/quiva/libDalvex.so             the volume control library, loaded by class identifier
#   lib/quiva/quiva-regsvr             registers it (the package does, system-wide)
#   share/applications, share/icons/hicolor, share/metainfo
#
# Installed files find each other relative to their own place ($ORIGIN), so a tree installed under
# any prefix, or a package unpacked anywhere, runs as it is. The build tree keeps CMake's absolute
# build RPATHs: tests copy the built player elsewhere and it must still find its libraries.

include(GNUInstallDirs)
set(QUIVA_PRIVATE_LIBDIR lib/quiva)

set_target_properties(quiva PROPERTIES INSTALL_RPATH "$ORIGIN/../${QUIVA_PRIVATE_LIBDIR}")
set_target_properties(Dalvex quiva-regsvr PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS quiva RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quiva-platform Dalvex LIBRARY DESTINATION ${QUIVA_PRIVATE_LIBDIR})
install(TARGETS quiva-regsvr RUNTIME DESTINATION ${QUIVA_PRIVATE_LIBDIR})

install(FILES ${CMAKE_CURRENT_LIST_DIR}/quiva.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.example.quiva.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Every size the skin generator draws the icon at (quiva-SIZE.png).
file(GLOB quiva_icons ${PROJECT_SOURCE_DIR}/player/resources/quiva-*.png)
foreach(icon ${quiva_icons})
    string(REGEX REPLACE ".*quiva-([0-9]+)\\.png$" "\\1" size ${icon})
    install(FILES ${icon}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME quiva.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quiva)
set(CPACK_PACKAGE_VENDOR "Quiva developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small skinned MP3 player")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quiva plays MP3 songs from a playlist built from whole folders, in a borderless skinned\n"
    "window with a scrolling title, a popup menu and a volume slider. It comes with Dalvex,\n"
    "the volume control component the player loads at run time.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quiva developers <maintainers@quiva.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quiva.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins are loaded at run time, so the library scan does not see them: the
# player runs natively on Wayland sessions and on X11.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
