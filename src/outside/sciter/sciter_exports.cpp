// sciter.dll's one export: the table of operations the window host calls.
#include <windows.h>

#include "engine_window.h"
#include "sciter/sciter_api.h"
#include "values.h"

namespace sciter_engine {
namespace {

BOOL ApiSetOption(HWND hwnd, UINT option, UINT_PTR value) {
  if (!hwnd) return SetGlobalOption(option, value);
  std::shared_ptr<EngineWindow> window = WindowFor(hwnd, true);
  return window ? window->SetOption(option, value) : FALSE;
}

void ApiSetupDebugOutput(HWND hwnd, LPVOID param, DEBUG_OUTPUT_PROC output) {
  if (!hwnd) {
    SetGlobalDebugOutput(param, output);
    return;
  }
  if (std::shared_ptr<EngineWindow> window = WindowFor(hwnd, true)) window->SetupDebugOutput(param, output);
}

void ApiSetCallback(HWND hwnd, SciterHostCallback callback, LPVOID param) {
  if (std::shared_ptr<EngineWindow> window = WindowFor(hwnd, true)) window->SetCallback(callback, param);
}

UINT ApiAttachEventHandler(HWND hwnd, ElementEventProc proc, LPVOID tag, UINT subscription) {
  std::shared_ptr<EngineWindow> window = WindowFor(hwnd, true);
  return window ? window->AttachEventHandler(proc, tag, subscription) : SCDOM_INVALID_HWND;
}

BOOL ApiLoadFile(HWND hwnd, LPCWSTR url) {
  std::shared_ptr<EngineWindow> window = WindowFor(hwnd, true);
  if (!window) {
    DiagnoseGlobally(OT_DOM, OS_ERROR, L"SciterLoadFile: not a window");
    return FALSE;
  }
  if (!url) return FALSE;
  return window->LoadFile(url);
}

LRESULT ApiProcND(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, BOOL* handled) {
  BOOL local = FALSE;
  if (!handled) handled = &local;
  *handled = FALSE;
  std::shared_ptr<EngineWindow> window = WindowFor(hwnd, false);
  return window ? window->Proc(msg, wparam, lparam, handled) : 0;
}

UINT ApiGetRootElement(HWND hwnd, HELEMENT* root) {
  if (!root) return SCDOM_INVALID_PARAMETER;
  *root = nullptr;
  std::shared_ptr<EngineWindow> window = WindowFor(hwnd, false);
  if (!window) return SCDOM_INVALID_HWND;
  *root = window->RootElement();
  return *root ? SCDOM_OK : SCDOM_OPERATION_FAILED;
}

UINT ApiGetScrollInfo(HELEMENT element, LPPOINT position, LPRECT view, LPSIZE content) {
  std::shared_ptr<EngineWindow> window = WindowOfElement(element);
  if (!window) return SCDOM_INVALID_HANDLE;
  return window->ScrollInfo(position, view, content) ? SCDOM_OK : SCDOM_OPERATION_FAILED;
}

BOOL ApiCall(HWND hwnd, LPCSTR name, UINT argc, const SCITER_VALUE* argv, SCITER_VALUE* result) {
  std::shared_ptr<EngineWindow> window = WindowFor(hwnd, false);
  return window ? window->Call(name, argc, argv, result) : FALSE;
}

ISciterAPI g_api = {
    kSciterApiVersion,
    ApiSetOption,
    ApiSetupDebugOutput,
    ApiSetCallback,
    ApiAttachEventHandler,
    ApiLoadFile,
    ApiProcND,
    ApiGetRootElement,
    ApiGetScrollInfo,
    ApiCall,
    ValueInitImpl,
    ValueClearImpl,
    ValueCopyImpl,
    ValueTypeImpl,
    ValueStringDataImpl,
    ValueStringDataSetImpl,
    ValueIntDataImpl,
    ValueIntDataSetImpl,
    ValueSetValueToKeyImpl,
    ValueGetValueOfKeyImpl,
    ValueElementsCountImpl,
    ValueNthElementValueImpl,
    ValueNthElementValueSetImpl,
};

}  // namespace
}  // namespace sciter_engine

extern "C" __declspec(dllexport) ISciterAPI* __cdecl SciterAPI() { return &sciter_engine::g_api; }
