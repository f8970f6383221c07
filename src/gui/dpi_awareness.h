// Per-monitor DPI awareness for the windows. The manifest asks for it on Windows 8.1 and
// later; this also asks at run time (for a program started without the manifest, and for
// Windows 7 and 8, which know only system-wide awareness).
#pragma once

#include <windows.h>

namespace ov {
namespace gui {

// Once per process, before the first window: per-monitor V2, else per-monitor (8.1), else
// system aware (7, 8). Calls that come after the manifest's setting fail harmlessly.
void EnableDpiAwareness();
// x, y of a window of `size` centred on `workArea` (the work area's origin included).
POINT CentredOn(const RECT& workArea, SIZE size);

}  // namespace gui
}  // namespace ov
