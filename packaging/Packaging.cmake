# SPDX-License-Identifier: GPL-3.0-or-later
# Installation layout and the Debian package: `cmake --install` puts the
# programs, their manual pages, the bash completion, the desktop entry, the
# AppStream data and the icon in place; `cpack -G DEB` wraps the same tree
# into a package whose library dependencies dpkg-shlibdeps finds.
include(GNUInstallDirs)

set(MERIDANE_APP_ID org.meridane.Meridane)

# Manual pages and the Debian changelog are installed compressed, as Debian
# wants them; -n keeps the archives reproducible.
set(compressed_dir ${CMAKE_BINARY_DIR}/compressed)
set(compressed_files)
foreach(source IN ITEMS data/man/meridane.1 data/man/meridane-cli.1 packaging/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${compressed_dir}/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed_dir}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed_files ${output})
endforeach()
add_custom_target(meridane_compressed_docs ALL DEPENDS ${compressed_files})

if(TARGET meridane)
  install(TARGETS meridane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${compressed_dir}/meridane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${MERIDANE_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${MERIDANE_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/hicolor/scalable/apps/${MERIDANE_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
if(TARGET meridane-cli)
  install(TARGETS meridane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${compressed_dir}/meridane-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/data/completion/meridane-cli.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME meridane-cli)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${compressed_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/meridane)

set(CPACK_PACKAGE_NAME meridane)
set(CPACK_PACKAGE_VENDOR "Meridane")
set(CPACK_PACKAGE_CONTACT "Meridane maintainers <maintainers@meridane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The summary is the synopsis; Debian wraps nothing, so each line of the long
# description stays under 80 characters.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Meridane reads the GPS position embedded in HEIC, HEIF and DNG photos and
makes each photo's existing XMP sidecar carry it. It compares first, never
creates a sidecar, never touches an image, and saves only through a validated
temporary file. A dry run, on by default, reports what would change. It comes
as a window (meridane) and a command (meridane-cli).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
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
# Directories dpkg itself creates must be owned by root, as lintian checks.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
