// CSNMessageBox: the modal HTML popup that stands in for a system message box. It shows a
// caption, a message and OK or Yes/No buttons from the skin page "popup", and gives back the
// pressed button as IDOK, IDYES or IDNO. One object serves one question.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gui/script_value.h"
#include "gui/window.h"

namespace ov {
namespace gui {
namespace GenericPopupBridge {

// What the popup page calls in the program.
class UI_to_AL {
 public:
  // `button` is a map holding at least "buttonID"; the answer is the integer 0.
  virtual ScriptValue onButtonPressed(const ScriptValue& button) = 0;

 protected:
  ~UI_to_AL() = default;
};

}  // namespace GenericPopupBridge
}  // namespace gui
}  // namespace ov

class CSNMessageBox final : public ov::gui::Window, public ov::gui::GenericPopupBridge::UI_to_AL {
 public:
  // What ShowMessage returns when the popup closed without a button (system close, a page
  // that closed itself, a page that could not be loaded): no button result at all.
  static constexpr int kNoButton = 0;

  CSNMessageBox();
  ~CSNMessageBox();

  void OnDocumentLoaded() override;
  // Runs the popup on the calling thread until it closes; the pressed button's result.
  virtual int ShowMessage(const wchar_t* message, const wchar_t* caption, UINT type, HWND parent);

  ov::gui::ScriptValue onButtonPressed(const ov::gui::ScriptValue& button) override;
  bool handle_event(HELEMENT element, UINT group, LPVOID params) override;

  int Result() const { return m_result; }

 private:
  void CallPage(const char* function, const ov::gui::ScriptValue& argument);

  int32_t m_result = kNoButton;
  std::wstring m_caption;
  std::wstring m_message;
  std::vector<ov::gui::ScriptValue> m_buttons;
};

namespace ov {
namespace gui {

// A popup for one question: shown, closed and gone before this returns its result.
// `ownerStop`: a stop event that also ends the popup (its result is then kNoButton).
int ShowMessageBox(const std::wstring& message, const std::wstring& caption, UINT type, HWND parent = nullptr,
                   HANDLE ownerStop = nullptr);

}  // namespace gui
}  // namespace ov
