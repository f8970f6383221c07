// The run's own folder below %temp% ("ovtempdir01" to "ovtempdir99") and its removal: every
// file is renamed before it is deleted, so that one still held open does not block its name
// and is deleted at the next restart instead.
#pragma once

#include <string>

namespace palisk {

// 0 with the folder's path, or 1627 with an empty output when none could be created. The
// folder is new (an existing name is never reused), no reparse point, and private to this
// account, SYSTEM and the administrators (see folder_security.h).
unsigned long CreateWorkingFolder(std::wstring& folder);
// Depth first; 1 when `path` was found, else 0. A junction, symbolic link or mount point is
// removed itself: nothing behind it is touched.
int RemoveFolderTree(const std::wstring& path);
// Deletes one file or one empty folder (renamed first; scheduled for restart if held).
void RemoveFile(const std::wstring& path);

}  // namespace palisk
