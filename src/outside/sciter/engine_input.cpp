// Input of an engine window: the mouse (hover, press, click), the keyboard and the focus
// that Tab and the arrow keys move over the page's buttons.
#include "engine_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>

namespace sciter_engine {

namespace {

std::wstring KeyName(WPARAM key, bool shift) {
  switch (key) {
    case VK_ESCAPE: return L"Escape";
    case VK_RETURN: return L"Enter";
    case VK_TAB: return L"Tab";
    case VK_SPACE: return L" ";
    case VK_BACK: return L"Backspace";
    case VK_DELETE: return L"Delete";
    case VK_LEFT: return L"ArrowLeft";
    case VK_RIGHT: return L"ArrowRight";
    case VK_UP: return L"ArrowUp";
    case VK_DOWN: return L"ArrowDown";
    case VK_HOME: return L"Home";
    case VK_END: return L"End";
    case VK_PRIOR: return L"PageUp";
    case VK_NEXT: return L"PageDown";
    case VK_SHIFT: return L"Shift";
    case VK_CONTROL: return L"Control";
    case VK_MENU: return L"Alt";
    default: break;
  }
  if (key >= VK_F1 && key <= VK_F12) return L"F" + std::to_wstring(key - VK_F1 + 1);
  if (key >= 'A' && key <= 'Z') return std::wstring(1, static_cast<wchar_t>(shift ? key : key - 'A' + 'a'));
  if (key >= '0' && key <= '9') return std::wstring(1, static_cast<wchar_t>(key));
  return L"Unidentified";
}

bool IsDisabled(const Node* element) {
  for (const Node* node = element; node; node = node->parent) {
    if (node->Attr(L"disabled") && (node->tag == L"button" || node->tag == L"input" || node->tag == L"select")) return true;
  }
  return false;
}

}  // namespace

void EngineWindow::SetFocus(Node* element) {
  if (element == focused_) return;
  // Only elements of the current page (a script may outlive its window's page).
  if (element && (!page_ || page_->document().FindByNumber(element->number()) != element)) return;
  if (focused_) focused_->state &= ~kStateFocus;
  focused_ = element;
  if (focused_) focused_->state |= kStateFocus;
  if (page_) page_->document().Touch();
  RequestRepaint();
}

void EngineWindow::SetHover(Node* element) {
  if (element == hovered_ || !page_) return;
  for (Node* node = hovered_; node; node = node->parent) node->state &= ~kStateHover;
  hovered_ = element;
  for (Node* node = hovered_; node; node = node->parent) node->state |= kStateHover;
  page_->document().Touch();
  RequestRepaint();
}

void EngineWindow::SetActive(Node* element) {
  if (!page_) return;
  for (Node* node : page_->document().Elements(page_->document().root())) node->state &= ~kStateActive;
  if (page_->document().root()) page_->document().root()->state &= ~kStateActive;
  for (Node* node = element; node; node = node->parent) node->state |= kStateActive;
  page_->document().Touch();
  RequestRepaint();
}

EventDetails EngineWindow::MouseDetails(int x, int y, int button) const {
  EventDetails details;
  const float scale = Scale();
  details.client_x = static_cast<int>(std::lround(x / scale));
  details.client_y = static_cast<int>(std::lround(y / scale));
  details.button = button;
  details.shift = GetKeyState(VK_SHIFT) < 0;
  details.ctrl = GetKeyState(VK_CONTROL) < 0;
  details.alt = GetKeyState(VK_MENU) < 0;
  return details;
}

void EngineWindow::OnMouseMove(int x, int y) {
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (!page || !script) return;
  if (!tracking_leave_) {
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd_, 0};
    tracking_leave_ = TrackMouseEvent(&track) != FALSE;
  }
  UpdateLayout();
  Node* target = page->HitTest(static_cast<float>(x), static_cast<float>(y));
  Node* previous = hovered_;
  SetHover(target);
  // mouseout / mouseover when the pointer goes to another element (they bubble, as in HTML).
  if (target != previous) {
    if (previous) script->DispatchEvent(previous, L"mouseout", MouseDetails(x, y, 0));
    if (target && page_ == page) script->DispatchEvent(target, L"mouseover", MouseDetails(x, y, 0));
  }
}

void EngineWindow::OnMouseLeave() {
  tracking_leave_ = false;
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  Node* previous = hovered_;
  SetHover(nullptr);
  if (previous && script) script->DispatchEvent(previous, L"mouseout", EventDetails());
}

void EngineWindow::OnButtonDown(int x, int y, int button) {
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (!page || !script) return;
  UpdateLayout();
  Node* target = page->HitTest(static_cast<float>(x), static_cast<float>(y));
  if (button == 0) {
    SetCapture(hwnd_);
    pressed_ = target;
    SetActive(target);
    // Focus moves to the focusable element pressed (or leaves when none is).
    const std::vector<Node*> focusable = FocusableElements();
    Node* focus_target = nullptr;
    for (Node* node = target; node && !focus_target; node = node->parent) {
      if (std::find(focusable.begin(), focusable.end(), node) != focusable.end() ||
          (node->Attr(L"tabindex") && !IsDisabled(node))) {
        focus_target = node;
      }
    }
    SetFocus(focus_target);
  }
  if (target) script->DispatchEvent(target, L"mousedown", MouseDetails(x, y, button));
}

void EngineWindow::OnButtonUp(int x, int y, int button) {
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (button == 0 && GetCapture() == hwnd_) ReleaseCapture();
  if (!page || !script) return;
  UpdateLayout();
  Node* target = page->HitTest(static_cast<float>(x), static_cast<float>(y));
  if (target) script->DispatchEvent(target, L"mouseup", MouseDetails(x, y, button));
  if (button != 0) return;
  Node* pressed = pressed_;
  pressed_ = nullptr;
  SetActive(nullptr);
  if (!pressed || !target || !page_) return;
  // A click is a press and a release on the same element (or inside it).
  Node* clicked = nullptr;
  if (target == pressed || pressed->IsAncestorOf(target)) clicked = pressed;
  else if (target->IsAncestorOf(pressed)) clicked = target;
  if (clicked) Click(clicked);
}

void EngineWindow::Click(Node* element) {
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (!script || !element || IsDisabled(element)) return;
  script->DispatchEvent(element, L"click", EventDetails());
}

std::vector<Node*> EngineWindow::FocusableElements() {
  std::vector<std::pair<int, Node*>> ordered;
  if (!page_) return {};
  UpdateLayout();
  for (Node* element : page_->document().Elements(page_->document().root())) {
    if (!element->geometry.laid_out || IsDisabled(element)) continue;
    int order = -1;
    if (const std::wstring* tabindex = element->Attr(L"tabindex")) {
      order = _wtoi(tabindex->c_str());
    } else if (element->tag == L"button" || element->tag == L"input" || element->tag == L"select" ||
               element->tag == L"textarea" || (element->tag == L"a" && element->Attr(L"href"))) {
      order = 0;
    }
    if (order >= 0) ordered.push_back({order, element});
  }
  // Positive tabindex values first, in their order; then the rest in document order.
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    const int ka = a.first > 0 ? a.first : 0x7FFFFFFF, kb = b.first > 0 ? b.first : 0x7FFFFFFF;
    return ka < kb;
  });
  std::vector<Node*> elements;
  for (const auto& entry : ordered) elements.push_back(entry.second);
  return elements;
}

void EngineWindow::MoveFocus(bool backwards) {
  const std::vector<Node*> focusable = FocusableElements();
  if (focusable.empty()) return;
  auto at = std::find(focusable.begin(), focusable.end(), focused_);
  size_t index;
  if (at == focusable.end()) {
    index = backwards ? focusable.size() - 1 : 0;
  } else {
    const size_t current = static_cast<size_t>(at - focusable.begin());
    index = backwards ? (current + focusable.size() - 1) % focusable.size() : (current + 1) % focusable.size();
  }
  SetFocus(focusable[index]);
}

bool EngineWindow::OnKey(UINT msg, WPARAM key) {
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (!page || !script) return false;
  EventDetails details;
  details.key_code = static_cast<int>(key);
  details.shift = GetKeyState(VK_SHIFT) < 0;
  details.ctrl = GetKeyState(VK_CONTROL) < 0;
  details.alt = GetKeyState(VK_MENU) < 0;
  details.key = KeyName(key, details.shift);
  Node* target = focused_ ? focused_ : page->document().Body();
  const bool down = msg == WM_KEYDOWN;
  const bool prevented = script->DispatchEvent(target, down ? L"keydown" : L"keyup", details);
  if (prevented || page_ != page) return true;
  if (down) {
    if (key == VK_TAB && !details.ctrl && !details.alt) {
      MoveFocus(details.shift);
    } else if ((key == VK_LEFT || key == VK_UP || key == VK_RIGHT || key == VK_DOWN) && focused_ &&
               focused_->tag == L"button") {
      // Arrows walk the buttons as they do in a system message box.
      MoveFocus(key == VK_LEFT || key == VK_UP);
    } else if (key == VK_RETURN && focused_) {
      Click(focused_);
    } else if (key == VK_SPACE && focused_) {
      space_pressed_ = focused_;
      SetActive(focused_);
    }
  } else if (key == VK_SPACE && space_pressed_) {
    Node* pressed = space_pressed_;
    space_pressed_ = nullptr;
    SetActive(nullptr);
    if (pressed == focused_) Click(pressed);
  }
  return true;
}

void EngineWindow::ForgetNode(Node* node) {
  if (focused_ == node) focused_ = nullptr;
  if (hovered_ == node) hovered_ = nullptr;
  if (pressed_ == node) pressed_ = nullptr;
  if (space_pressed_ == node) space_pressed_ = nullptr;
  for (auto it = behaviors_.begin(); it != behaviors_.end();) {
    if (it->element != node) {
      ++it;
      continue;
    }
    const Behavior behavior = *it;
    it = behaviors_.erase(it);
    INITIALIZATION_PARAMS detached = {1};
    behavior.proc(behavior.tag, behavior.element, HANDLE_INITIALIZATION, &detached);
  }
}

}  // namespace sciter_engine
