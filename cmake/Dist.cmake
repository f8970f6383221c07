# build/dist: everything an installation needs next to palisk.exe. Integration tests and the
# demo run from a copy of it.
set(PALISK_DIST_TARGETS palisk Glossel log hypra sciter binlog_decode dllreport_decode dbgtrace_unscramble)
set(_copy_commands)
foreach(_target ${PALISK_DIST_TARGETS})
  list(APPEND _copy_commands
       COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:${_target}>" "${PALISK_DIST}/")
endforeach()
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory "${PALISK_DIST}"
  ${_copy_commands}
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/lang" "${PALISK_DIST}/lang"
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/skin" "${PALISK_DIST}/skin"
  DEPENDS ${PALISK_DIST_TARGETS}
  COMMENT "Assembling ${PALISK_DIST}")
