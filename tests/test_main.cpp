// Entry point of every test executable.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  // Text mode would end every line in "\r\n", and test discovery would read names ending in "\r".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A test that ends its process on purpose (death tests, crash checks) must not start
  // Wine's debugger or a Windows error-report dialog; children inherit this mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
