# SPDX-License-Identifier: GPL-3.0-or-later
# One library per folder of src/. A library's public include path holds only
# its own folder, seen as <build>/include/<name>/<name>, so a source reaches
# another folder's headers only through that folder's library on its link
# line: an include of a layer that is not linked fails to compile.
function(meridane_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(meridane_${name} STATIC ${ARG_SOURCES})
  add_library(Meridane::${name} ALIAS meridane_${name})
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  target_include_directories(meridane_${name} PUBLIC ${root})
  target_link_libraries(meridane_${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()
