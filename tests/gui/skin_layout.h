// Where things lie on the skin pages, in page pixels at 100 % (the pages' fixed layout);
// tests scale them by the window's width over the page width.
#pragma once

#include <windows.h>

namespace skin_layout {

// skin/palisk.html
constexpr int kProgressWidth = 440;
constexpr int kProgressHeight = 170;
constexpr RECT kCaption = {1, 1, 439, 44};
constexpr RECT kBarFillArea = {22, 61, 418, 77};  // inside the bar's border; 396 px wide
constexpr RECT kPercentText = {21, 86, 219, 106};
constexpr RECT kSpeedText = {219, 86, 419, 106};
constexpr RECT kCancelButton = {321, 116, 419, 142};
constexpr COLORREF kFillColour = 0x3C8D3C;     // 0xRRGGBB
constexpr COLORREF kBarBackground = 0xE8EEF5;
constexpr COLORREF kFrameColour = 0x2F6FB0;

// skin/popup.html
constexpr int kPopupWidth = 400;
constexpr int kPopupHeight = 160;
constexpr RECT kPopupTitle = {1, 1, 399, 39};
constexpr RECT kPopupMessage = {17, 51, 383, 121};
constexpr RECT kLastButton = {301, 121, 383, 147};    // OK, or No
constexpr RECT kFirstOfTwo = {211, 121, 293, 147};    // Yes

inline POINT Centre(const RECT& rect, double scale) {
  return POINT{static_cast<LONG>((rect.left + rect.right) / 2 * scale),
               static_cast<LONG>((rect.top + rect.bottom) / 2 * scale)};
}

inline RECT Scaled(const RECT& rect, double scale) {
  return RECT{static_cast<LONG>(rect.left * scale), static_cast<LONG>(rect.top * scale),
              static_cast<LONG>(rect.right * scale), static_cast<LONG>(rect.bottom * scale)};
}

}  // namespace skin_layout
