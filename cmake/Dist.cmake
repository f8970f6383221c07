# build/dist: everything an installation needs next to palisk.exe. Integration tests and the
# demo run from a copy of it.
set(PALISK_DIST_TARGETS palisk Glossel log hypra sciter binlog_decode dllreport_decode dbgtrace_unscramble)
# Every module that ships (and the stand-ins beside it) imports statically only KnownDLLs.
palisk_check_static_imports(static_imports ${PALISK_DIST_TARGETS} Tallon Vantor)
set(_copy_commands)
foreach(_target ${PALISK_DIST_TARGETS})
  list(APPEND _copy_commands
       COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:${_target}>" "${PALISK_DIST}/")
endforeach()
# The window icon is drawn by a script of ours at build time rather than kept as binary data.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(PALISK_SKIN_ICON "${CMAKE_BINARY_DIR}/generated/skin/ovicon.ico")
add_custom_command(OUTPUT "${PALISK_SKIN_ICON}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/generated/skin"
  COMMAND Python3::Interpreter "${CMAKE_SOURCE_DIR}/tools/skin/make_icon.py" "${PALISK_SKIN_ICON}"
  DEPENDS "${CMAKE_SOURCE_DIR}/tools/skin/make_icon.py"
  COMMENT "Drawing skin/ovicon.ico")
add_custom_target(skin_icon DEPENDS "${PALISK_SKIN_ICON}")

add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory "${PALISK_DIST}"
  ${_copy_commands}
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/lang" "${PALISK_DIST}/lang"
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/skin" "${PALISK_DIST}/skin"
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${PALISK_SKIN_ICON}" "${PALISK_DIST}/skin/"
  DEPENDS ${PALISK_DIST_TARGETS} "${PALISK_SKIN_ICON}"
  COMMENT "Assembling ${PALISK_DIST}")
# A module with a static import it may not have never reaches dist.
add_dependencies(dist static_imports)
