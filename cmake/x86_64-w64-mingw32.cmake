# Cross toolchain: 64-bit Windows PE code from Debian's mingw-w64. The same sources as the
# i686 product, built 64-bit so that every machine can run the whole test suite.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
