// Helpers for tests that drive real windows under Xvfb like a user: waiting, finding the
// program's windows, clicks and keys posted to a window, and screen pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "libheaders/downloadstatus.h"

namespace gui_testing {

// Polls `done` every 20 ms until it holds or `timeoutMs` passed; true when it held.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// The top-level window of the window host's class owned by `owner` (null: any owner) that
// belongs to this process (or to any process); null when there is none.
HWND FindHostWindow(HWND owner = nullptr, HWND except = nullptr, bool anyProcess = false);
int CountHostWindows();

// Pointer and keys, posted as the system would deliver them. Coordinates are client pixels.
void Click(HWND window, int x, int y);
void PressKey(HWND window, UINT virtualKey);
void PressAltF4(HWND window);

// The screen's pixels of a window's rectangle, as 0xRRGGBB.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  bool SavePpm(const std::wstring& path) const;
};
Capture CaptureWindow(HWND window);

// Colours within `tolerance` on each channel.
bool Near(uint32_t colour, uint32_t wanted, int tolerance = 24);
// Pixels in [left, right) × [top, bottom) for which `match` holds.
int CountPixels(const Capture& capture, int left, int top, int right, int bottom,
                const std::function<bool(uint32_t)>& match);
// Dark pixels: text drawn in the pages' text colour (with its smoothing).
bool IsDark(uint32_t colour);

// The numbers the progress screen polls, set by the test.
class FixedStatusManager : public DownloadStatus::IManager {
 public:
  void Set(uint32_t percent, double speed) {
    m_info.percent = percent;
    m_info.speedKBps = speed;
  }
  int OnBeginDownload(const DownloadStatus::FileIdentity&) override { return 0; }
  int OnDownloadProgress(const DownloadStatus::FileIdentity&, const DownloadStatus::ProgressPair&) override {
    return 0;
  }
  int OnFinishDownload(const DownloadStatus::FileIdentity&) override { return 0; }
  int GetStatus(DownloadStatus::DownloadStatusInfo* info) override {
    *info = m_info;
    return 0;
  }
  void SetTotal(uint32_t) override {}
  void SetObserver(DownloadStatus::IObserver*) override {}

 private:
  DownloadStatus::DownloadStatusInfo m_info;
};

// The folder of the test executable, where its skin, lang, sciter.dll and Glossel.dll lie.
std::wstring ExecutableFolder();
// Where screenshots of failing or interesting states are kept (build\tests\screenshots).
std::wstring ScreenshotFolder();

}  // namespace gui_testing
