# Cross toolchain: 32-bit Windows PE code from Debian's mingw-w64 (the product that ships).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
