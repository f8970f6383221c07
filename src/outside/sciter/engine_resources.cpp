#include "engine_window.h"

#include <algorithm>

#include "text_codec.h"
#include "url.h"

namespace sciter_engine {

bool EngineWindow::FetchResource(const std::wstring& path, UINT type, std::string* bytes) {
  const std::wstring url = PathToFileUrl(path);
  SCN_LOAD_DATA load = {SC_LOAD_DATA, hwnd_, url.c_str(), nullptr, 0, type};
  if (Notify(reinterpret_cast<SCITER_CALLBACK_NOTIFICATION*>(&load)) == LOAD_DISCARD) {
    Diagnose(OT_DOM, OS_INFO, url + L": the host refused it");
    return false;
  }
  if (load.outData && load.outDataSize) {
    bytes->assign(reinterpret_cast<const char*>(load.outData), load.outDataSize);
  } else if (!ReadWholeFile(path, bytes)) {
    return false;
  }
  SCN_DATA_LOADED loaded = {SC_DATA_LOADED, hwnd_, url.c_str(),
                            reinterpret_cast<const BYTE*>(bytes->data()),
                            static_cast<UINT>(bytes->size()), type};
  Notify(reinterpret_cast<SCITER_CALLBACK_NOTIFICATION*>(&loaded));
  return true;
}

BOOL EngineWindow::LoadFile(const std::wstring& url) {
  std::wstring path;
  if (!FileUrlToPath(url, &path)) {
    Diagnose(OT_DOM, OS_ERROR, L"'" + url + L"' is not a local file address");
    return FALSE;
  }
  std::string bytes;
  if (!FetchResource(path, kResourceHtml, &bytes)) {
    Diagnose(OT_DOM, OS_ERROR, L"cannot read " + path);
    return FALSE;
  }
  Teardown();
  url_ = url;
  auto sink = [this](UINT subsystem, UINT severity, const std::wstring& text) { Diagnose(subsystem, severity, text); };
  auto page = std::make_shared<Page>(sink, FontQualityForSmoothing(font_smoothing_));
  bool bad_bytes = false;
  const std::wstring html = DecodeResourceText(bytes, &bad_bytes);
  if (bad_bytes) Diagnose(OT_DOM, OS_WARNING, path + L": not valid UTF-8; bad bytes replaced");
  page->Load(html, path, [this](const std::wstring& p, UINT type, std::string* out) { return FetchResource(p, type, out); });
  page_ = page;
  page->document().SetFreeListener([this](Node* node) { ForgetNode(node); });
  auto script = std::make_shared<ScriptEngine>(&page->document(), this, sink, CurrentGlobalSettings().runtime_features);
  script_ = script;
  for (const Page::Script& source : page->scripts()) script->Run(source.code, source.name);
  for (Node* element : page->document().Elements(page->document().root())) {
    if (element->Attr(L"autofocus") && !focused_) SetFocus(element);
  }
  script->DispatchEvent(nullptr, L"DOMContentLoaded", EventDetails());
  script->DispatchEvent(nullptr, L"load", EventDetails());
  UpdateLayout();
  AttachBehaviors();
  RequestRepaint();
  return TRUE;
}

void EngineWindow::AttachBehaviors() {
  if (!page_) return;
  for (Node* element : page_->document().Elements(page_->document().root())) {
    if (!element->style || element->style->behavior.empty()) continue;
    if (std::any_of(behaviors_.begin(), behaviors_.end(), [&](const Behavior& b) { return b.element == element; })) continue;
    const std::string name = WideToUtf8(element->style->behavior);
    // Behaviours this engine has itself: buttons are clickable anyway.
    if (name == "button" || name == "clickable") continue;
    SCN_ATTACH_BEHAVIOR attach = {SC_ATTACH_BEHAVIOR, hwnd_, element, name.c_str(), nullptr, nullptr};
    if (Notify(reinterpret_cast<SCITER_CALLBACK_NOTIFICATION*>(&attach)) && attach.elementProc) {
      behaviors_.push_back({element, attach.elementProc, attach.elementTag});
      INITIALIZATION_PARAMS attached = {0};
      attach.elementProc(attach.elementTag, element, HANDLE_INITIALIZATION, &attached);
    } else {
      Diagnose(OT_DOM, OS_WARNING, L"behavior '" + element->style->behavior + L"' of <" + element->tag + L"> is unknown");
    }
  }
}

void EngineWindow::PictureChanged(Node* element) {
  std::shared_ptr<Page> page = page_;
  if (!page || page->document().FindByNumber(element->number()) != element) return;
  page->LoadPicture(element, [this](const std::wstring& path, UINT type, std::string* bytes) {
    return FetchResource(path, type, bytes);
  });
}

void EngineWindow::Teardown() {
  StopAllTimers();
  std::vector<Behavior> behaviors;
  behaviors.swap(behaviors_);
  for (const Behavior& behavior : behaviors) {
    INITIALIZATION_PARAMS detached = {1};
    behavior.proc(behavior.tag, behavior.element, HANDLE_INITIALIZATION, &detached);
  }
  focused_ = hovered_ = pressed_ = space_pressed_ = nullptr;
  script_.reset();
  page_.reset();
}

}  // namespace sciter_engine
