# Third-party code, built from the Debian sources that scripts/setup.sh extracted.
# Header-only libraries come from a staging folder that holds only them: /usr/include itself
# must never reach the cross compiler.
set(_tp "${PALISK_THIRD_PARTY}")
foreach(_dir tinyxml duktape fmtlib include/nlohmann include/fmt)
  if(NOT EXISTS "${_tp}/${_dir}")
    message(FATAL_ERROR "${_tp}/${_dir} is missing: run scripts/setup.sh first")
  endif()
endforeach()

add_library(nlohmann_json_staged INTERFACE)
target_include_directories(nlohmann_json_staged SYSTEM INTERFACE "${_tp}/include")
# We parse without exceptions (a malformed document gives a discarded value) and catch none, so
# a throw could only end the process: JSON_NOEXCEPTION aborts there directly and leaves the
# library's exception classes, with their message building, out of the binary.
target_compile_definitions(nlohmann_json_staged INTERFACE JSON_NOEXCEPTION)

# {fmt} compiled once from its own sources (header-only costs seconds per translation unit).
add_library(fmt_static STATIC EXCLUDE_FROM_ALL
  "${_tp}/fmtlib/src/format.cc" "${_tp}/fmtlib/src/os.cc")
target_include_directories(fmt_static SYSTEM PUBLIC "${_tp}/include")
# No std::locale behind the thousands separator: our formats never ask for the locale ("{:L}"),
# and the locale machinery would be the largest part of the library in every module using it.
target_compile_definitions(fmt_static PRIVATE "FMT_STATIC_THOUSANDS_SEPARATOR=','")

# TinyXML without its STL form: Glossel reads through the char* interface, and the STL form's
# stream operators would pull iostreams and the whole locale machinery into Glossel.dll. Debian's
# tinyxml.h switches TIXML_USE_STL on by itself, so the sources are built from a copy whose
# header leaves it off.
set(_tinyxml_out "${CMAKE_BINARY_DIR}/third_party/tinyxml")
file(READ "${_tp}/tinyxml/tinyxml.h" _tinyxml_header)
string(REPLACE "#ifndef TIXML_USE_STL\n\t#define TIXML_USE_STL\n#endif" "" _tinyxml_header "${_tinyxml_header}")
if(_tinyxml_header MATCHES "define TIXML_USE_STL")
  message(FATAL_ERROR "${_tp}/tinyxml/tinyxml.h still switches TIXML_USE_STL on")
endif()
file(WRITE "${_tinyxml_out}/tinyxml.h.new" "${_tinyxml_header}")
configure_file("${_tinyxml_out}/tinyxml.h.new" "${_tinyxml_out}/tinyxml.h" COPYONLY)
set(_tinyxml_sources)
foreach(_name tinyxml.cpp tinyxmlparser.cpp tinyxmlerror.cpp tinystr.cpp tinystr.h)
  configure_file("${_tp}/tinyxml/${_name}" "${_tinyxml_out}/${_name}" COPYONLY)
  if(_name MATCHES "cpp$")
    list(APPEND _tinyxml_sources "${_tinyxml_out}/${_name}")
  endif()
endforeach()
add_library(tinyxml STATIC EXCLUDE_FROM_ALL ${_tinyxml_sources})
target_include_directories(tinyxml SYSTEM PUBLIC "${_tinyxml_out}")

add_library(duktape STATIC EXCLUDE_FROM_ALL "${_tp}/duktape/src/duktape.c")
set_target_properties(duktape PROPERTIES C_STANDARD 99)
target_include_directories(duktape SYSTEM PUBLIC "${_tp}/duktape/src")
