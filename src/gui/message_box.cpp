#include "gui/message_box.h"

#include "gui/progress_text.h"
#include "gui/sciter_engine.h"

using ov::gui::ScriptValue;

CSNMessageBox::CSNMessageBox()
    : ov::gui::Window(ov::gui::SkinFilePath(L"popup", L".html").c_str(),
                      ov::gui::SkinFilePath(L"ovicon", L".ico").c_str()) {
  SetSelector(L"palisk");
}

CSNMessageBox::~CSNMessageBox() { StopAndWait(); }

int CSNMessageBox::ShowMessage(const wchar_t* message, const wchar_t* caption, UINT type, HWND parent) {
  SetTitle(caption != nullptr ? caption : L"");
  m_message = message != nullptr ? message : L"";
  m_caption = caption != nullptr ? caption : L"";
  m_buttons.clear();
  for (const wchar_t* token : ov::gui::ButtonTokensForType(type)) {
    ov::StringT displayText;
    Glossel()->Translate(displayText, token, Selector().c_str());
    ScriptValue button;
    button.SetItem(L"displayText", ScriptValue::FromString(displayText.c_str()));
    button.SetItem(L"buttonID", ScriptValue::FromString(token));
    m_buttons.push_back(std::move(button));
  }
  if (parent != nullptr && parent != INVALID_HANDLE_VALUE && !IsRunning()) SetParent(parent);
  Show(false);
  return m_result;
}

void CSNMessageBox::OnDocumentLoaded() {
  CenterOnWorkArea();
  ScriptValue buttons;
  // With no buttons the list stays undefined (the value functions make no empty array);
  // the page treats that as an empty list.
  for (size_t i = 0; i < m_buttons.size(); ++i) buttons.SetElement(static_cast<int>(i), m_buttons[i]);
  const ScriptValue caption = ScriptValue::FromString(m_caption);
  const ScriptValue message = ScriptValue::FromString(m_message);
  SendCall([&] { CallPage("GenericPopup.setTitle", caption); });
  SendCall([&] { CallPage("GenericPopup.setMessage", message); });
  SendCall([&] { CallPage("GenericPopup.setButtons", buttons); });
}

void CSNMessageBox::CallPage(const char* function, const ScriptValue& argument) {
  ScriptValue result;
  ov::gui::SciterApi()->SciterCall(Handle(), function, 1, argument.Get(), result.Get());
}

ScriptValue CSNMessageBox::onButtonPressed(const ScriptValue& button) {
  int result = 0;
  if (ov::gui::ResultOfButtonToken(button.GetItem(L"buttonID").GetString(), &result)) m_result = result;
  return ScriptValue::FromInt(0);
}

bool CSNMessageBox::handle_event(HELEMENT element, UINT group, LPVOID params) {
  if (group == HANDLE_SCRIPTING_METHOD_CALL && params != nullptr) {
    auto* call = static_cast<SCRIPTING_METHOD_PARAMS*>(params);
    if (call->name != nullptr && std::string(call->name) == "onButtonPressed" && call->argc == 1) {
      onButtonPressed(ScriptValue(call->argv[0])).CopyTo(&call->result);
      return true;
    }
  }
  return Window::handle_event(element, group, params);
}

namespace ov {
namespace gui {

int ShowMessageBox(const std::wstring& message, const std::wstring& caption, UINT type, HWND parent,
                   HANDLE ownerStop) {
  CSNMessageBox box;
  box.StopAlongWith(ownerStop);
  const int result = box.ShowMessage(message.c_str(), caption.c_str(), type, parent);
  box.Close();
  return result;
}

}  // namespace gui
}  // namespace ov
