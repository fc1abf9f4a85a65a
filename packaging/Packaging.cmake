# Installation layout and the Debian package: `cmake --install` puts the
# programs, the desktop entry and the icon in place; `cpack -G DEB` wraps the
# same tree into a package whose library dependencies dpkg-shlibdeps finds.
include(GNUInstallDirs)

if(TARGET meridane)
  install(TARGETS meridane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/meridane.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/hicolor/scalable/apps/meridane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
if(TARGET meridane-cli)
  install(TARGETS meridane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(CPACK_PACKAGE_NAME meridane)
set(CPACK_PACKAGE_VENDOR "Meridane")
set(CPACK_PACKAGE_CONTACT "Meridane maintainers <maintainers@meridane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Meridane reads the GPS position embedded in HEIC, HEIF and DNG photos and makes each photo's existing XMP sidecar carry it. It compares first, never creates a sidecar, never touches an image, and saves only through a validated temporary file. A dry run, on by default, reports what would change.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY meridane)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://meridane.example")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, so dpkg-shlibdeps cannot see
# them; without the X11 one the window does not open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-gtk-platformtheme")

include(CPack)
