// Small file-system questions and whole-file reads that several components ask.
#pragma once

#include <string>

namespace ov {

bool FileExists(const std::wstring& path);    // a file or a folder
bool FolderExists(const std::wstring& path);
// The whole file (shared for reading and writing, so a log still being written can be read);
// false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

}  // namespace ov
