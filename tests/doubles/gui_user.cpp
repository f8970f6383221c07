// gui_user.exe: a user in front of a visible Palisk run, for scenario tests and the demo. It
// waits for Palisk's progress window (in any process of the desktop) and plays a script of
// steps on it and on its popups, printing each step as it happens.
//   gui_user.exe [--timeout SECONDS] [--shots FOLDER] STEP...
// Steps: cancel (click the Cancel button), yes / no (answer the quit question), ok (press
// the popup's only button), altf4 (on the progress window), wait:MS, shot:NAME (the progress
// window), popupshot:NAME (the open popup), errorpopup:NAME (photograph and OK the next popup
// of the run stages), gone (wait until the progress window has closed).
// Exit code 0 when every step could be played, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "gui_test_support.h"
#include "skin_layout.h"

namespace {

namespace layout = skin_layout;
using gui_testing::WaitFor;

DWORD g_timeoutMs = 60000;
std::wstring g_shots = L".";
DWORD g_start = GetTickCount();

void Say(const wchar_t* format, const std::wstring& what) {
  std::wprintf(L"[gui_user %6.2f s] ", (GetTickCount() - g_start) / 1000.0);
  std::wprintf(format, what.c_str());
  std::wprintf(L"\n");
  std::fflush(stdout);
}

double Scale(HWND window, int pageWidth) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return static_cast<double>(rect.right - rect.left) / pageWidth;
}

// Palisk's progress window: a visible, unowned window of the host's class with the progress
// page's proportions (440 x 170; popups are 400 x 160).
BOOL CALLBACK VisitForProgress(HWND window, LPARAM param) {
  wchar_t className[64] = L"";
  GetClassNameW(window, className, 64);
  RECT rect = {};
  if (wcscmp(className, L"ov::gui::window") != 0 || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr ||
      !GetWindowRect(window, &rect) || rect.bottom <= rect.top) {
    return TRUE;
  }
  const double ratio = static_cast<double>(rect.right - rect.left) / (rect.bottom - rect.top);
  const double wanted = static_cast<double>(layout::kProgressWidth) / layout::kProgressHeight;
  if (ratio > wanted - 0.04 && ratio < wanted + 0.04) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

// A popup of the run stages: unowned, with the popup page's proportions.
BOOL CALLBACK VisitForStagePopup(HWND window, LPARAM param) {
  wchar_t className[64] = L"";
  GetClassNameW(window, className, 64);
  RECT rect = {};
  if (wcscmp(className, L"ov::gui::window") != 0 || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr ||
      !GetWindowRect(window, &rect) || rect.bottom <= rect.top) {
    return TRUE;
  }
  const double ratio = static_cast<double>(rect.right - rect.left) / (rect.bottom - rect.top);
  const double wanted = static_cast<double>(layout::kPopupWidth) / layout::kPopupHeight;
  if (ratio > wanted - 0.04 && ratio < wanted + 0.04) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

HWND ProgressWindow() {
  HWND found = nullptr;
  WaitFor([&] {
    EnumWindows(&VisitForProgress, reinterpret_cast<LPARAM>(&found));
    return found != nullptr;
  }, g_timeoutMs);
  return found;
}

HWND Popup(HWND owner) {
  HWND found = nullptr;
  WaitFor([&] {
    found = gui_testing::FindHostWindow(owner, nullptr, true);
    return found != nullptr && IsWindowVisible(found);
  }, g_timeoutMs);
  if (found != nullptr) Sleep(300);  // the page has its buttons by now
  return found;
}

bool Shot(HWND window, const std::wstring& name) {
  const gui_testing::Capture capture = gui_testing::CaptureWindow(window);
  const std::wstring path = g_shots + L"\\" + name + L".ppm";
  if (capture.width == 0 || !capture.SavePpm(path)) return false;
  Say(L"saved %ls", path);
  return true;
}

bool Play(const std::wstring& step, HWND& progress) {
  if (step == L"gone") return progress == nullptr || WaitFor([&] { return !IsWindow(progress); }, g_timeoutMs);
  if (step.compare(0, 11, L"errorpopup:") == 0) {
    // An error popup of the run stages: photographed, then answered with its OK button.
    HWND popup = nullptr;
    WaitFor([&] {
      EnumWindows(&VisitForStagePopup, reinterpret_cast<LPARAM>(&popup));
      return popup != nullptr;
    }, g_timeoutMs);
    if (popup == nullptr) return false;
    Sleep(300);
    if (!Shot(popup, step.substr(11))) return false;
    const POINT at = layout::Centre(layout::kLastButton, Scale(popup, layout::kPopupWidth));
    gui_testing::Click(popup, at.x, at.y);
    return WaitFor([&] { return !IsWindow(popup); }, g_timeoutMs);
  }
  if (step.compare(0, 5, L"wait:") == 0) {
    Sleep(static_cast<DWORD>(_wtoi(step.c_str() + 5)));
    return true;
  }
  if (progress == nullptr || !IsWindow(progress)) progress = ProgressWindow();
  if (progress == nullptr) return false;
  if (step == L"cancel") {
    const POINT at = layout::Centre(layout::kCancelButton, Scale(progress, layout::kProgressWidth));
    gui_testing::Click(progress, at.x, at.y);
    return true;
  }
  if (step == L"altf4") {
    gui_testing::PressAltF4(progress);
    return true;
  }
  if (step.compare(0, 5, L"shot:") == 0) return Shot(progress, step.substr(5));
  HWND popup = Popup(progress);
  if (popup == nullptr) return false;
  const double scale = Scale(popup, layout::kPopupWidth);
  if (step.compare(0, 10, L"popupshot:") == 0) return Shot(popup, step.substr(10));
  if (step == L"yes" || step == L"no" || step == L"ok") {
    const POINT at = layout::Centre(step == L"yes" ? layout::kFirstOfTwo : layout::kLastButton, scale);
    gui_testing::Click(popup, at.x, at.y);
    return WaitFor([&] { return !IsWindow(popup); }, g_timeoutMs);
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> steps;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--timeout" && i + 1 < argc) g_timeoutMs = static_cast<DWORD>(_wtoi(argv[++i])) * 1000;
    else if (argument == L"--shots" && i + 1 < argc) g_shots = argv[++i];
    else steps.push_back(argument);
  }
  HWND progress = nullptr;
  for (const std::wstring& step : steps) {
    if (!Play(step, progress)) {
      Say(L"FAILED at step %ls", step);
      return 1;
    }
    Say(L"done: %ls", step);
  }
  return 0;
}
