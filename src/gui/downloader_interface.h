// CDownloaderInterface: the download progress screen. A window on its own UI thread whose
// page pulls the numbers ("getDownloadProgress") from a status manager and asks to quit
// ("onCancel"); the download thread pulls the user's decision with QueryCancel. The screen
// never pushes data to the page and never stops the download itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "framework/scoped_handle.h"
#include "gui/script_value.h"
#include "gui/window.h"
#include "libheaders/downloadstatus.h"

namespace ov {
namespace gui {
namespace DownloaderBridge {

// What the progress page calls in the program.
class UI_to_AL {
 public:
  // 1 when the user has confirmed quitting (now or earlier), else 0.
  virtual ScriptValue onCancel() = 0;
  // A map: "progress" (0 to 100), "speed" (text with its unit), "etl" (text).
  virtual ScriptValue getDownloadProgress() = 0;

 protected:
  ~UI_to_AL() = default;
};

}  // namespace DownloaderBridge
}  // namespace gui
}  // namespace ov

class CDownloaderInterface final : public ov::gui::Window,
                             public ov::gui::DownloaderBridge::UI_to_AL,
                             public DownloadStatus::IObserver {
 public:
  // `title`: the product name, also the quit question's caption. `manager` is not owned.
  CDownloaderInterface(const wchar_t* title, DownloadStatus::IManager* manager);
  ~CDownloaderInterface();

  // The system close commands (system menu, Alt+F4, title-bar button) do nothing here.
  void OnMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled, LRESULT* result) override;
  void OnDocumentLoaded() override;
  // On the download thread: waits while the quit question is open; -2 once the user said
  // Yes, else 0.
  int QueryCancel() override;
  virtual bool IsCancelled();

  ov::gui::ScriptValue onCancel() override;
  ov::gui::ScriptValue getDownloadProgress() override;
  bool handle_event(HELEMENT element, UINT group, LPVOID params) override;

 private:
  std::wstring m_productTitle;
  ov::ScopedHandle m_questionDone;  // manual reset; reset while the quit question is open
  std::atomic<bool> m_cancelled{false};
  DownloadStatus::IManager* m_manager;
  bool m_questionOpen = false;  // UI thread only
};
