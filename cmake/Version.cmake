# The one version number of the tree: the VERSION file (four dotted numbers). It becomes
# PROJECT_VERSION, generated/palisk_version.h (PALISK_VERSION_TEXT, PALISK_VERSION_COMMA) and
# the version resource of every shipped module.
function(palisk_read_version out_var)
  set(_file "${CMAKE_CURRENT_SOURCE_DIR}/VERSION")
  file(STRINGS "${_file}" _version LIMIT_COUNT 1)
  string(STRIP "${_version}" _version)
  if(NOT _version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "${_file} must hold four dotted numbers, not \"${_version}\"")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_file}")
  set(${out_var} "${_version}" PARENT_SCOPE)
endfunction()

# After project(): PALISK_VERSION, PALISK_VERSION_COMMA and the header for code that names the
# version (a target that includes it links palisk_version).
macro(palisk_generate_version_header)
  set(PALISK_VERSION "${PROJECT_VERSION}")
  string(REPLACE "." "," PALISK_VERSION_COMMA "${PROJECT_VERSION}")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version/palisk_version.h.in"
                 "${CMAKE_BINARY_DIR}/generated/version/palisk_version.h")
  add_library(palisk_version INTERFACE)
  target_include_directories(palisk_version INTERFACE "${CMAKE_BINARY_DIR}/generated/version")
endmacro()

# palisk_shipped_module(<target> "<file description>"): what every module that ships carries:
# its VS_VERSION_INFO, our small std::terminate handler (src/framework/terminate_handler.cpp) and
# the C++ library failure functions that end a run the same way (library_failures.cpp).
function(palisk_shipped_module target description)
  target_sources(${target} PRIVATE "${CMAKE_SOURCE_DIR}/src/framework/terminate_handler.cpp"
                                   "${CMAKE_SOURCE_DIR}/src/framework/library_failures.cpp")
  palisk_version_resource(${target} "${description}")
endfunction()

# palisk_version_resource(<target> "<file description>"): the module's VS_VERSION_INFO.
function(palisk_version_resource target description)
  get_target_property(_type ${target} TYPE)
  get_target_property(_output ${target} OUTPUT_NAME)
  if(NOT _output)
    set(_output ${target})
  endif()
  set(_name "${_output}")
  set(_description "${description}")
  if(_type STREQUAL "EXECUTABLE")
    set(_file_type VFT_APP)
    set(_file_name "${_output}.exe")
  else()
    set(_file_type VFT_DLL)
    set(_file_name "${_output}.dll")
  endif()
  set(_rc "${CMAKE_CURRENT_BINARY_DIR}/generated/${target}_version.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version/version.rc.in" "${_rc}" @ONLY)
  target_sources(${target} PRIVATE "${_rc}")
endfunction()
