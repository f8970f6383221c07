// signature_check: the publisher check Palisk applies to what it starts (a trusted
// Authenticode signature made by the publisher, no withdrawn certificate), for files on disk:
// a release engineer's last look at signed modules before they ship.
//   signature_check <file>...     exit 0 when every file passes, 1 otherwise
#include <windows.h>

#include <cstdio>

#include "installer/palisk/fileverifier.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: signature_check <file>...\n");
    return 2;
  }
  CFileVerifier verifier;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const bool trusted = verifier.IsFileTrusted(argv[i], false);
    std::wprintf(L"%ls: %ls\n", trusted ? L"signed by the publisher" : L"NOT signed by the publisher", argv[i]);
    if (!trusted) status = 1;
  }
  return status;
}
