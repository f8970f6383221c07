#include "gui/downloader_interface.h"

#include <string>

#include "gui/message_box.h"
#include "gui/progress_text.h"

using ov::gui::ScriptValue;

namespace {

constexpr UINT kQuitQuestionType = MB_YESNO | MB_ICONQUESTION;

}  // namespace

CDownloaderInterface::CDownloaderInterface(const wchar_t* title, DownloadStatus::IManager* manager)
    : ov::gui::Window(ov::gui::SkinFilePath(L"palisk", L".html").c_str(),
                      ov::gui::SkinFilePath(L"ovicon", L".ico").c_str()),
      m_productTitle(title != nullptr ? title : L""),
      m_manager(manager) {
  SetTitle(m_productTitle);
  SetSelector(L"palisk");
  m_questionDone.Set(CreateEventW(nullptr, TRUE, TRUE, nullptr));
}

CDownloaderInterface::~CDownloaderInterface() { StopAndWait(); }

void CDownloaderInterface::OnMessage(UINT message, WPARAM wParam, LPARAM, BOOL* handled, LRESULT* result) {
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
    *handled = TRUE;
    *result = 0;
  }
}

void CDownloaderInterface::OnDocumentLoaded() { CenterOnWorkArea(); }

int CDownloaderInterface::QueryCancel() {
  HANDLE questionDone = m_questionDone.Get();
  if (questionDone != nullptr && questionDone != INVALID_HANDLE_VALUE) WaitForSingleObject(questionDone, INFINITE);
  return m_cancelled.load() ? DownloadStatus::kCancelled : 0;
}

bool CDownloaderInterface::IsCancelled() { return m_cancelled.load(); }

ScriptValue CDownloaderInterface::onCancel() {
  // Input posted to the window while the question is open still reaches the page: one
  // question at a time, or an inner answer would let the download go on under the outer one.
  if (m_questionOpen) return ScriptValue::FromInt(m_cancelled.load() ? 1 : 0);
  m_questionOpen = true;
  ResetEvent(m_questionDone.Get());  // the download thread holds at its next question
  ov::StringT question;
  Glossel()->Translate(question, L"_LSAre you sure you want to quit?LS_", L"palisk");
  // Close does not wait for the user: it ends the question with the screen, and an answer
  // that comes once the screen is closing changes nothing.
  const int answer =
      ov::gui::ShowMessageBox(question.c_str(), m_productTitle, kQuitQuestionType, Handle(), StopEvent());
  if (answer == IDYES && !StopRequested()) m_cancelled.store(true);
  SetEvent(m_questionDone.Get());
  m_questionOpen = false;
  return ScriptValue::FromInt(m_cancelled.load() ? 1 : 0);
}

ScriptValue CDownloaderInterface::getDownloadProgress() {
  DownloadStatus::DownloadStatusInfo status;
  if (m_manager != nullptr) m_manager->GetStatus(&status);
  ov::StringT kbUnit;
  ov::StringT mbUnit;
  if (ov::gui::SpeedInMegabytes(status.speedKBps)) Glossel()->Translate(mbUnit, L"_LSMB/sLS_", L"palisk");
  else Glossel()->Translate(kbUnit, L"_LSKB/sLS_", L"palisk");
  ScriptValue progress;
  progress.SetItem(L"progress", ScriptValue::FromInt(static_cast<int>(status.percent)));
  progress.SetItem(L"speed", ScriptValue::FromString(ov::gui::FormatSpeed(status.speedKBps, kbUnit.c_str(),
                                                                           mbUnit.c_str())));
  progress.SetItem(L"etl", ScriptValue::FromString(std::to_wstring(status.etl)));
  return progress;
}

bool CDownloaderInterface::handle_event(HELEMENT element, UINT group, LPVOID params) {
  if (group == HANDLE_SCRIPTING_METHOD_CALL && params != nullptr) {
    auto* call = static_cast<SCRIPTING_METHOD_PARAMS*>(params);
    const std::string name = call->name != nullptr ? call->name : "";
    if (name == "onCancel" && call->argc == 0) {
      onCancel().CopyTo(&call->result);
      return true;
    }
    if (name == "getDownloadProgress" && call->argc == 0) {
      getDownloadProgress().CopyTo(&call->result);
      return true;
    }
  }
  return Window::handle_event(element, group, params);
}
