# Fails when MODULE imports statically a library not named in ALLOWED (comma-separated, without
# ".dll").
#   cmake -DOBJDUMP=... -DMODULE=... -DALLOWED=kernel32,user32 -P CheckStaticImports.cmake
execute_process(COMMAND "${OBJDUMP}" -p "${MODULE}" OUTPUT_VARIABLE _headers RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "objdump could not read ${MODULE}")
endif()
string(REPLACE "," ";" _allowed "${ALLOWED}")
string(REGEX MATCHALL "DLL Name: [^\r\n]+" _imports "${_headers}")
set(_refused)
foreach(_import ${_imports})
  string(REGEX REPLACE "^DLL Name: " "" _name "${_import}")
  string(STRIP "${_name}" _name)
  string(TOLOWER "${_name}" _name)
  string(REGEX REPLACE "\\.dll$" "" _base "${_name}")
  if(NOT _base IN_LIST _allowed)
    list(APPEND _refused "${_name}")
  endif()
endforeach()
if(_refused)
  string(REPLACE ";" ", " _refused "${_refused}")
  message(FATAL_ERROR "${MODULE} imports ${_refused} statically: only KnownDLLs may be imported "
                      "statically (cmake/SystemImports.cmake); link such a library as delayload::<name>")
endif()
