// What the parts of an engine window post to themselves: page timers' ids and the
// registered messages for a repaint, a close after the script returned, and the host's
// "layered window shown".
#pragma once

#include <windows.h>

namespace sciter_engine {

// Page timers are window timers with ids from here up, clear of ids a host would pick.
constexpr UINT_PTR kTimerBase = 0x40000000;

inline UINT RepaintMessage() {
  static const UINT message = RegisterWindowMessageW(L"PaliskSciterRepaint");
  return message;
}
inline UINT CloseMessage() {
  static const UINT message = RegisterWindowMessageW(L"PaliskSciterClose");
  return message;
}
// The host sends it once its layered window is shown.
inline UINT UpdateLayeredMessage() {
  static const UINT message = RegisterWindowMessageW(L"SciterUpdateLayered");
  return message;
}

}  // namespace sciter_engine
