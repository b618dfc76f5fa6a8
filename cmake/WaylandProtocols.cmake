# SPDX-License-Identifier: MIT
# Protocol code generated from wayland-protocols' XML at build time.
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_PROTOCOLS_DIR OR NOT WAYLAND_SCANNER)
  message(FATAL_ERROR "wayland-protocols and wayland-scanner are needed (Debian: wayland-protocols, libwayland-dev)")
endif()

# wayland_protocols(TARGET client|server XML...): each XML (a path inside
# wayland-protocols) becomes TARGET's NAME-SIDE-protocol.h and NAME-protocol.c.
function(wayland_protocols target side)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/protocols)
  foreach(xml ${ARGN})
    get_filename_component(name ${xml} NAME_WE)
    set(header ${dir}/${name}-${side}-protocol.h)
    set(code ${dir}/${name}-protocol.c)
    add_custom_command(OUTPUT ${header} ${code}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${WAYLAND_SCANNER} ${side}-header ${WAYLAND_PROTOCOLS_DIR}/${xml} ${header}
      COMMAND ${WAYLAND_SCANNER} private-code ${WAYLAND_PROTOCOLS_DIR}/${xml} ${code}
      DEPENDS ${WAYLAND_PROTOCOLS_DIR}/${xml}
      VERBATIM)
    target_sources(${target} PRIVATE ${header} ${code})
  endforeach()
  target_include_directories(${target} PUBLIC ${dir})
endfunction()
