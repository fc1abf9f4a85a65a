# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop-integration checks: `cmake -DCHECK=<desktop|appstream|deb>
# -DSOURCE_DIR=… -DBINARY_DIR=… -P CheckPackage.cmake`. A missing tool skips
# the check (exit 77); the setup script installs them.
set(app_id org.meridane.Meridane)
function(run_check tool)
  find_program(program ${tool})
  if(NOT program)
    message("${tool} is not installed; skipping")
    cmake_language(EXIT 77)
  endif()
  execute_process(COMMAND ${program} ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${tool} failed (${status})")
  endif()
endfunction()

if(CHECK STREQUAL "desktop")
  # Never the handler of folders (inode/directory, inode/mount-point, …).
  file(STRINGS ${SOURCE_DIR}/data/${app_id}.desktop mime_types REGEX "^MimeType=")
  if(mime_types MATCHES "inode/")
    message(FATAL_ERROR "the desktop entry claims a folder type: ${mime_types}")
  endif()
  run_check(desktop-file-validate ${SOURCE_DIR}/data/${app_id}.desktop)
elseif(CHECK STREQUAL "appstream")
  run_check(appstreamcli validate --no-net ${SOURCE_DIR}/data/${app_id}.metainfo.xml)
elseif(CHECK STREQUAL "deb")
  # The package of this build, as `cpack -G DEB` makes it; lintian must find
  # no error and no warning in it.
  set(out ${BINARY_DIR}/package-check)
  file(REMOVE_RECURSE ${out})
  execute_process(COMMAND cpack -G DEB -B ${out} --config ${BINARY_DIR}/CPackConfig.cmake
                  RESULT_VARIABLE status OUTPUT_QUIET)
  file(GLOB package ${out}/*.deb)
  if(NOT status EQUAL 0 OR NOT package)
    message(FATAL_ERROR "cpack could not build the package")
  endif()
  run_check(lintian --fail-on error,warning ${package})
endif()
