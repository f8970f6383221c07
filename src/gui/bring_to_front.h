// Bringing a window of the calling thread to the front, also when another process holds the
// foreground: the steps Windows allows, one after the other, until the window is in front.
#pragma once

#include <windows.h>

namespace ov {
namespace gui {

void BringWindowToFront(HWND window);

}  // namespace gui
}  // namespace ov
