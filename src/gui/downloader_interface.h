// The progress screen as the downloader sees it: started with a title and a status manager,
// asked between files (and while bytes arrive) whether the user cancelled, closed at the end.
#pragma once

#include <memory>
#include <string>

#include "libheaders/downloadstatus.h"

class CDownloaderInterface : public DownloadStatus::IObserver {
 public:
  virtual ~CDownloaderInterface() = default;
  virtual int Start(int show) = 0;
  virtual void Close() = 0;
};

// The progress screen for `title`, reading `manager`; null when it cannot be created.
std::unique_ptr<CDownloaderInterface> CreateDownloaderInterface(const std::wstring& title,
                                                               DownloadStatus::IManager* manager);
