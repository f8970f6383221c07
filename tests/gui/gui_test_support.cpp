#include "gui_test_support.h"

#include <cstdio>
#include <cwchar>

#include "framework/module_path.h"

namespace gui_testing {
namespace {

constexpr wchar_t kHostClass[] = L"ov::gui::window";

struct Search {
  HWND owner;
  HWND except;
  bool anyProcess = false;
  HWND found = nullptr;
  int count = 0;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if ((!search->anyProcess && processId != GetCurrentProcessId()) || window == search->except) return TRUE;
  wchar_t className[64] = L"";
  GetClassNameW(window, className, 64);
  if (wcscmp(className, kHostClass) != 0) return TRUE;
  ++search->count;
  if (search->found == nullptr && (search->owner == nullptr || GetWindow(window, GW_OWNER) == search->owner)) {
    search->found = window;
  }
  return TRUE;
}

LPARAM PointParam(int x, int y) { return MAKELPARAM(x, y); }

}  // namespace

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

HWND FindHostWindow(HWND owner, HWND except, bool anyProcess) {
  Search search{owner, except, anyProcess};
  EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int CountHostWindows() {
  Search search{nullptr, nullptr};
  EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

void Click(HWND window, int x, int y) {
  PostMessageW(window, WM_MOUSEMOVE, 0, PointParam(x, y));
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, PointParam(x, y));
  PostMessageW(window, WM_LBUTTONUP, 0, PointParam(x, y));
}

void PressKey(HWND window, UINT virtualKey) {
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  PostMessageW(window, WM_KEYDOWN, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16));
  if (virtualKey == VK_RETURN || virtualKey == VK_SPACE || virtualKey == VK_ESCAPE || virtualKey == VK_TAB) {
    const wchar_t character = virtualKey == VK_RETURN ? L'\r' : virtualKey == VK_SPACE ? L' '
                              : virtualKey == VK_ESCAPE ? 0x1B : L'\t';
    PostMessageW(window, WM_CHAR, character, 1 | (static_cast<LPARAM>(scan) << 16));
  }
  PostMessageW(window, WM_KEYUP, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

void PressAltF4(HWND window) {
  // As the system sends it: a system key with the context (Alt held) bit set.
  const LPARAM context = 1 | (static_cast<LPARAM>(MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC)) << 16) | (1u << 29);
  PostMessageW(window, WM_SYSKEYDOWN, VK_F4, context);
  PostMessageW(window, WM_SYSKEYUP, VK_F4, context | (3u << 30));
}

Capture CaptureWindow(HWND window) {
  Capture capture;
  RECT rect = {};
  if (!GetWindowRect(window, &rect)) return capture;
  capture.width = rect.right - rect.left;
  capture.height = rect.bottom - rect.top;
  if (capture.width <= 0 || capture.height <= 0) return Capture();
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, capture.width, capture.height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const auto* pixels = static_cast<const uint32_t*>(bits);
  capture.pixels.assign(pixels, pixels + static_cast<size_t>(capture.width) * capture.height);
  for (uint32_t& pixel : capture.pixels) pixel &= 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return capture;
}

bool Capture::SavePpm(const std::wstring& path) const {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  for (uint32_t pixel : pixels) {
    const unsigned char rgb[3] = {static_cast<unsigned char>(pixel >> 16), static_cast<unsigned char>(pixel >> 8),
                                  static_cast<unsigned char>(pixel)};
    std::fwrite(rgb, 1, 3, out);
  }
  std::fclose(out);
  return true;
}

bool Near(uint32_t colour, uint32_t wanted, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int a = static_cast<int>((colour >> shift) & 0xFF);
    const int b = static_cast<int>((wanted >> shift) & 0xFF);
    if (a - b > tolerance || b - a > tolerance) return false;
  }
  return true;
}

int CountPixels(const Capture& capture, int left, int top, int right, int bottom,
                const std::function<bool(uint32_t)>& match) {
  int count = 0;
  for (int y = top < 0 ? 0 : top; y < bottom && y < capture.height; ++y) {
    for (int x = left < 0 ? 0 : left; x < right && x < capture.width; ++x) {
      if (match(capture.At(x, y))) ++count;
    }
  }
  return count;
}

bool IsDark(uint32_t colour) {
  const int r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
  return r + g + b < 3 * 110;
}

std::wstring ExecutableFolder() { return ov::FolderOf(ov::ModuleFilePath(nullptr)); }

std::wstring ScreenshotFolder() {
  // build\tests\bin\gui -> build\tests\screenshots
  const std::wstring folder = ov::FolderOf(ov::FolderOf(ExecutableFolder())) + L"\\screenshots";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

}  // namespace gui_testing
