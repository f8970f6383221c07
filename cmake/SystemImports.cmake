# What the modules we ship may import statically, and how they reach every other system library.
#
# Windows' loader resolves static imports before any of our code runs, and for a name that is not
# a KnownDLL it looks in the executable's own folder first: a version.dll left beside palisk.exe
# in a Downloads folder would run with palisk's rights. KnownDLLs are mapped from the system's own
# section objects and never searched for, so they are the only static imports. The names below
# are on the KnownDLLs list of Windows 7 and of every later version (ntdll is loaded by the kernel
# itself). Every other system library is linked through a delay-load import library: its first use
# loads it through the hook in src/framework/delay_load_hook.cpp, from the system folder only.
set(PALISK_STATIC_IMPORTS_ALLOWED
  ntdll kernel32 user32 gdi32 advapi32 shell32 shlwapi ole32 oleaut32 msvcrt ws2_32 comdlg32 imm32
  setupapi psapi rpcrt4 sechost nsi normaliz imagehlp wldap32 msctf clbcatq difxapi)

# The system libraries our code links that are not KnownDLLs: each gets delayload::<name>.
set(PALISK_DELAY_LOADED version winhttp winmm wintrust crypt32 bcrypt windowscodecs)

# The delay-load hook is referenced only by the CRT's helper, which the linker meets after our
# libraries: asking for it up front makes ours win over the CRT's empty default.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_hook_symbol ___pfnDliNotifyHook2)  # C symbols carry a leading underscore on i686
else()
  set(_hook_symbol __pfnDliNotifyHook2)
endif()

# palisk_import_library_exports(<name> <variable>): the functions mingw's import library for
# <name>.dll names (on i686 with their "@<argument bytes>" suffix); empty without such a library.
function(palisk_import_library_exports name variable)
  execute_process(COMMAND "${CMAKE_C_COMPILER}" -print-file-name=lib${name}.a
                  OUTPUT_VARIABLE _import OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(_exports)
  if(IS_ABSOLUTE "${_import}" AND EXISTS "${_import}")
    execute_process(COMMAND "${CMAKE_NM}" "${_import}" OUTPUT_VARIABLE _symbols ERROR_QUIET)
    string(REGEX MATCHALL " I __imp_[^\r\n]+" _symbols "${_symbols}")
    foreach(_symbol ${_symbols})
      string(REGEX REPLACE "^ I __imp_" "" _symbol "${_symbol}")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^_" "" _symbol "${_symbol}")
      endif()
      list(APPEND _exports "${_symbol}")
    endforeach()
    list(REMOVE_DUPLICATES _exports)
  endif()
  set(${variable} "${_exports}" PARENT_SCOPE)
endfunction()

# A delay-load import library with the exports of mingw's own import library for `name`.
function(_palisk_make_delay_library name)
  palisk_import_library_exports(${name} _exports)
  if(NOT _exports)
    message(FATAL_ERROR "no exports read from mingw's import library for ${name}.dll")
  endif()
  set(_folder "${CMAKE_BINARY_DIR}/delayload")
  string(REPLACE ";" "\n" _lines "${_exports}")
  file(WRITE "${_folder}/${name}.def" "LIBRARY ${name}.dll\nEXPORTS\n${_lines}\n")
  set(_library "${_folder}/lib${name}_delay.a")
  execute_process(COMMAND "${CMAKE_DLLTOOL}" --kill-at --def "${_folder}/${name}.def" --dllname ${name}.dll
                          --output-delaylib "${_library}"
                  RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "dlltool could not make the delay-load library of ${name}.dll")
  endif()
  add_library(palisk_delayload_${name} INTERFACE)
  target_link_libraries(palisk_delayload_${name} INTERFACE "${_library}" ovframework)
  target_link_options(palisk_delayload_${name} INTERFACE "LINKER:-u,${_hook_symbol}")
  add_library(delayload::${name} ALIAS palisk_delayload_${name})
endfunction()

foreach(_name ${PALISK_DELAY_LOADED})
  _palisk_make_delay_library(${_name})
endforeach()

# palisk_check_static_imports(<check target> <module target>...): the check target (built by
# default) fails when one of the modules imports statically a library that is not on
# PALISK_STATIC_IMPORTS_ALLOWED. Each module is checked again whenever it is linked again.
function(palisk_check_static_imports check)
  string(REPLACE ";" "," _allowed "${PALISK_STATIC_IMPORTS_ALLOWED}")
  set(_stamps)
  foreach(_target ${ARGN})
    set(_stamp "${CMAKE_BINARY_DIR}/import_checks/${_target}.checked")
    add_custom_command(OUTPUT "${_stamp}"
      COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${CMAKE_OBJDUMP}" "-DMODULE=$<TARGET_FILE:${_target}>"
              "-DALLOWED=${_allowed}" -P "${CMAKE_SOURCE_DIR}/cmake/CheckStaticImports.cmake"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/import_checks"
      COMMAND "${CMAKE_COMMAND}" -E touch "${_stamp}"
      DEPENDS ${_target} "$<TARGET_FILE:${_target}>" "${CMAKE_SOURCE_DIR}/cmake/CheckStaticImports.cmake"
      COMMENT "Checking the static imports of ${_target}"
      VERBATIM)
    list(APPEND _stamps "${_stamp}")
  endforeach()
  add_custom_target(${check} ALL DEPENDS ${_stamps})
endfunction()
