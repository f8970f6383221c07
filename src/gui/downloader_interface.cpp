#include "gui/downloader_interface.h"

std::unique_ptr<CDownloaderInterface> CreateDownloaderInterface(const std::wstring&, DownloadStatus::IManager*) {
  // The HTML progress screen (window host and sciter) is not part of this build yet: the
  // screen cannot be created, and downloads run without one, as in a silent run.
  return nullptr;
}
