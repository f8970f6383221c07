// The engine's C++ helpers for hosts: `sciter::host<T>` turns the C host callback into a call
// of T::handle_notification, `sciter::event_handler` turns the C element event procedure into
// its virtual handle_event. A window host derives from both and passes `this` as the
// callback's parameter and the handler's tag.
#pragma once

#include "sciter/sciter_api.h"

namespace sciter {

template <class T>
class host {
 public:
  // For SciterSetCallback, with the T object as parameter.
  static UINT callback(SCITER_CALLBACK_NOTIFICATION* notification, LPVOID param) {
    return static_cast<T*>(param)->handle_notification(notification);
  }

 protected:
  host() = default;
  ~host() = default;
};

class event_handler {
 public:
  // For SciterWindowAttachEventHandler, with the event_handler part of the object as tag.
  static BOOL element_proc(LPVOID tag, HELEMENT element, UINT evtg, LPVOID params) {
    return static_cast<event_handler*>(tag)->handle_event(element, evtg, params) ? TRUE : FALSE;
  }
  LPVOID tag() { return static_cast<event_handler*>(this); }

  // True when the event was handled. For HANDLE_SCRIPTING_METHOD_CALL, `params` is a
  // SCRIPTING_METHOD_PARAMS whose result the handler sets.
  virtual bool handle_event(HELEMENT element, UINT evtg, LPVOID params) = 0;

 protected:
  event_handler() = default;
  ~event_handler() = default;
};

}  // namespace sciter
