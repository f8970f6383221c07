#include "engine_window.h"

#include "engine_messages.h"

namespace sciter_engine {

namespace {

// The page gets at most this many device pixels of width when nothing fixes it.
constexpr float kFallbackAutoWidth = 1920;

}  // namespace

float EngineWindow::Scale() const {
  // The window's own DPI: the one WM_DPICHANGED last gave, else the one of its monitor
  // (GetDpiForWindow, Windows 10 1607 and later), else the system's (Windows 7 and 8).
  int dpi = dpi_;
  if (dpi == 0) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto get_dpi_for_window = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (get_dpi_for_window) dpi = static_cast<int>(get_dpi_for_window(hwnd_));
  }
  if (dpi == 0) {
    HDC screen = GetDC(nullptr);
    dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? static_cast<float>(dpi) / 96.0f : 1.0f;
}

LayoutOptions EngineWindow::CurrentLayoutOptions() const {
  LayoutOptions options;
  options.scale = Scale();
  RECT client = {};
  if (GetClientRect(hwnd_, &client)) {
    options.viewport_width = static_cast<float>(client.right - client.left);
    options.viewport_height = static_cast<float>(client.bottom - client.top);
  }
  RECT work = {};
  options.max_auto_width = SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)
                               ? static_cast<float>(work.right - work.left)
                               : kFallbackAutoWidth;
  return options;
}

void EngineWindow::UpdateLayout() {
  if (page_) page_->Layout(CurrentLayoutOptions());
}

bool EngineWindow::IsLayered() const {
  return (GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
}

void EngineWindow::RequestRepaint() {
  // Changes come in bursts (a script setting several styles): one repaint for all of them.
  if (repaint_posted_ || !page_) return;
  repaint_posted_ = PostMessageW(hwnd_, RepaintMessage(), 0, 0) != FALSE;
  if (!repaint_posted_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void EngineWindow::RenderAndPresent(HDC paint_dc) {
  std::shared_ptr<Page> page = page_;
  if (!page) return;
  UpdateLayout();
  const bool layered = alpha_ && IsLayered();
  RECT window = {}, client = {};
  GetWindowRect(hwnd_, &window);
  GetClientRect(hwnd_, &client);
  // A layered window's picture covers the whole window (ours are frameless popups).
  const int width = layered ? window.right - window.left : client.right;
  const int height = layered ? window.bottom - window.top : client.bottom;
  if (width <= 0 || height <= 0 || !surface_.Resize(width, height)) return;
  surface_.Fill(layered ? 0 : 0xFFFFFFFF);
  PaintOptions options;
  options.scale = Scale();
  options.subpixel_text = font_smoothing_ == 3 && !layered;
  page->Paint(&surface_, options);
  if (layered) {
    POINT source = {0, 0};
    SIZE size = {width, height};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (!UpdateLayeredWindow(hwnd_, nullptr, nullptr, &size, surface_.dc(), &source, 0, &blend, ULW_ALPHA)) {
      Diagnose(OT_DOM, OS_WARNING, L"UpdateLayeredWindow failed with " + std::to_wstring(GetLastError()));
    }
    return;
  }
  if (IsLayered()) {
    // Layered without per-pixel alpha: the window shows its WM_PAINT drawing once told so.
    SetLayeredWindowAttributes(hwnd_, 0, 255, LWA_ALPHA);
  }
  HDC dc = paint_dc ? paint_dc : GetDC(hwnd_);
  if (dc) {
    BitBlt(dc, 0, 0, width, height, surface_.dc(), 0, 0, SRCCOPY);
    if (!paint_dc) ReleaseDC(hwnd_, dc);
  }
}

bool EngineWindow::ScrollInfo(POINT* position, RECT* view, SIZE* content) {
  std::shared_ptr<Page> page = page_;
  if (!page) return false;
  const LayoutResult& layout = page->Layout(CurrentLayoutOptions());
  if (position) *position = POINT{0, 0};
  if (view) {
    RECT client = {};
    GetClientRect(hwnd_, &client);
    *view = client;
  }
  if (content) *content = SIZE{layout.content_width, layout.content_height};
  return true;
}

}  // namespace sciter_engine
