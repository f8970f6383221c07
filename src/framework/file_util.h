// Small file-system questions and whole-file reads that several components ask.
#pragma once

#include <cstdint>
#include <string>

namespace ov {

bool FileExists(const std::wstring& path);    // a file or a folder
bool FolderExists(const std::wstring& path);
// The whole file (shared for reading and writing, so a log still being written can be read);
// false (and `bytes` empty) when it cannot be opened or read, or holds more than `maxBytes`:
// a file from the network must not decide how much memory we try to take.
bool ReadWholeFile(const std::wstring& path, std::string& bytes, uint64_t maxBytes = UINT64_MAX);

}  // namespace ov
