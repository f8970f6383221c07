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

add_library(tinyxml STATIC EXCLUDE_FROM_ALL
  "${_tp}/tinyxml/tinyxml.cpp" "${_tp}/tinyxml/tinyxmlparser.cpp"
  "${_tp}/tinyxml/tinyxmlerror.cpp" "${_tp}/tinyxml/tinystr.cpp")
# Without TIXML_USE_STL: Glossel reads through the char* interface, and the STL form's stream
# operators would pull iostreams (and their locale set-up) into Glossel.dll.
target_include_directories(tinyxml SYSTEM PUBLIC "${_tp}/tinyxml")

add_library(duktape STATIC EXCLUDE_FROM_ALL "${_tp}/duktape/src/duktape.c")
set_target_properties(duktape PROPERTIES C_STANDARD 99)
target_include_directories(duktape SYSTEM PUBLIC "${_tp}/duktape/src")
