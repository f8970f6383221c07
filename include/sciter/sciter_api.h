// sciter, the HTML/CSS engine every window of Palisk is drawn with (sciter.dll), as Palisk
// uses it: one C export, "SciterAPI" (caller cleans), returning a table of operations. All
// table operations use the C calling convention too. Texts are zero-terminated UTF-16 unless
// a length is given; script function names are UTF-8.
#pragma once

#include <windows.h>

#include <cstdint>

extern "C" {

// ---- Script values -------------------------------------------------------------------------
// A script value is 16 bytes owned by its holder: ValueInit it before use, ValueClear it after.
// What the three fields hold is the engine's business.
struct SCITER_VALUE {
  UINT t;
  UINT u;
  UINT64 d;
};

enum SciterValueType : UINT {
  T_UNDEFINED = 0,
  T_NULL = 1,
  T_BOOL = 2,
  T_INT = 3,
  T_FLOAT = 4,
  T_STRING = 5,
  T_ARRAY = 9,
  T_MAP = 10,
  T_FUNCTION = 11,
  T_OBJECT = 12,
};

// Results of the value functions.
enum SciterValueResult : UINT {
  HV_OK = 0,
  HV_BAD_PARAMETER = 1,
  HV_INCOMPATIBLE_TYPE = 2,
};

// ---- Elements and results of the DOM functions ---------------------------------------------
typedef void* HELEMENT;

enum SciterDomResult : UINT {
  SCDOM_OK = 0,
  SCDOM_INVALID_HWND = 1,
  SCDOM_INVALID_HANDLE = 2,
  SCDOM_PASSIVE_HANDLE = 3,
  SCDOM_INVALID_PARAMETER = 4,
  SCDOM_OPERATION_FAILED = 5,
};

// ---- Options (SciterSetOption) -------------------------------------------------------------
enum SciterOption : UINT {
  SCITER_SMOOTH_SCROLL = 1,
  SCITER_SET_SCRIPT_RUNTIME_FEATURES = 8,  // process-wide (window null): ALLOW_* bits below
  SCITER_SET_DEBUG_MODE = 10,              // per window: 0 off, 1 on
  SCITER_SET_FONT_SMOOTHING = 11,          // per window: 0 system, 1 none, 2 standard, 3 ClearType
  SCITER_ALPHA_WINDOW = 12,                // per window: 1 draws into a layered (per-pixel alpha) window
};

enum SciterRuntimeFeature : UINT {
  ALLOW_FILE_IO = 0x1,
  ALLOW_SOCKET_IO = 0x2,
  ALLOW_EVAL = 0x4,
  ALLOW_SYSINFO = 0x8,
};

// ---- Diagnostics (SciterSetupDebugOutput) ---------------------------------------------------
enum OUTPUT_SUBSYTEMS : UINT {
  OT_DOM = 0,    // html parser and runtime
  OT_CSSS = 1,   // csss! script interpreter
  OT_CSS = 2,    // css parser
  OT_TIS = 3,    // script
};
enum OUTPUT_SEVERITY : UINT {
  OS_INFO = 0,
  OS_WARNING = 1,
  OS_ERROR = 2,
};
typedef void (*DEBUG_OUTPUT_PROC)(LPVOID param, UINT subsystem, UINT severity, LPCWSTR text,
                                  UINT textLength);

// ---- Host callback (SciterSetCallback) -----------------------------------------------------
enum SciterNotificationCode : UINT {
  SC_LOAD_DATA = 1,
  SC_DATA_LOADED = 2,
  SC_ATTACH_BEHAVIOR = 4,
  SC_ENGINE_DESTROYED = 5,
  SC_POSTED_NOTIFICATION = 6,
  SC_GRAPHICS_CRITICAL_FAILURE = 7,
};

// Every notification starts with these two fields.
struct SCITER_CALLBACK_NOTIFICATION {
  UINT code;
  HWND hwnd;
};

// SC_LOAD_DATA, before a resource is read. The host may supply the bytes itself (outData and
// outDataSize, valid until the callback returns) and answer LOAD_OK; LOAD_DISCARD refuses it.
enum SciterLoadResult : UINT { LOAD_OK = 0, LOAD_DISCARD = 1 };
struct SCN_LOAD_DATA {
  UINT code;
  HWND hwnd;
  LPCWSTR uri;
  const BYTE* outData;
  UINT outDataSize;
  UINT dataType;  // 0 html, 1 image, 2 style, 3 cursor, 4 script
};

// SC_DATA_LOADED, after a resource was read.
struct SCN_DATA_LOADED {
  UINT code;
  HWND hwnd;
  LPCWSTR uri;
  const BYTE* data;
  UINT dataSize;
  UINT dataType;
};

typedef BOOL (*ElementEventProc)(LPVOID tag, HELEMENT he, UINT evtg, LPVOID prms);

// SC_ATTACH_BEHAVIOR, for an element whose style names a behaviour the engine does not have.
struct SCN_ATTACH_BEHAVIOR {
  UINT code;
  HWND hwnd;
  HELEMENT element;
  LPCSTR behaviorName;
  ElementEventProc elementProc;  // out
  LPVOID elementTag;             // out
};

// SC_POSTED_NOTIFICATION.
struct SCN_POSTED_NOTIFICATION {
  UINT code;
  HWND hwnd;
  UINT_PTR wparam;
  UINT_PTR lparam;
  UINT_PTR lreturn;
};

typedef UINT (*SciterHostCallback)(SCITER_CALLBACK_NOTIFICATION* notification, LPVOID param);

// ---- Event handlers (SciterWindowAttachEventHandler) ---------------------------------------
// Event groups (the subscription mask and the evtg argument of ElementEventProc).
enum EVENT_GROUPS : UINT {
  HANDLE_INITIALIZATION = 0x0000,  // evtg only: attached (cmd 0) and detached (cmd 1)
  HANDLE_MOUSE = 0x0001,
  HANDLE_KEY = 0x0002,
  HANDLE_FOCUS = 0x0004,
  HANDLE_SCROLL = 0x0008,
  HANDLE_TIMER = 0x0010,
  HANDLE_SIZE = 0x0020,
  HANDLE_DATA_ARRIVED = 0x0040,
  HANDLE_BEHAVIOR_EVENT = 0x0100,
  HANDLE_METHOD_CALL = 0x0200,
  HANDLE_SCRIPTING_METHOD_CALL = 0x0400,
  HANDLE_ALL = 0xFFFF,
};

struct INITIALIZATION_PARAMS {
  UINT cmd;  // 0 attached, 1 detached
};

// A page script calling a function the page does not define: view.NAME(args...) reaches every
// handler attached to the window until one of them answers TRUE and sets `result`.
struct SCRIPTING_METHOD_PARAMS {
  LPCSTR name;
  const SCITER_VALUE* argv;
  UINT argc;
  SCITER_VALUE result;  // initialised by the engine, cleared by the engine after the call
};

// ---- The table -----------------------------------------------------------------------------
struct ISciterAPI {
  UINT version;

  BOOL (*SciterSetOption)(HWND hwnd, UINT option, UINT_PTR value);
  void (*SciterSetupDebugOutput)(HWND hwnd, LPVOID param, DEBUG_OUTPUT_PROC output);
  void (*SciterSetCallback)(HWND hwnd, SciterHostCallback callback, LPVOID param);
  UINT (*SciterWindowAttachEventHandler)(HWND hwnd, ElementEventProc proc, LPVOID tag, UINT subscription);
  // Loads a "file://" address into the window; FALSE when the page cannot be read.
  BOOL (*SciterLoadFile)(HWND hwnd, LPCWSTR url);
  // The engine's share of a window procedure; *handled tells whether it took the message.
  LRESULT (*SciterProcND)(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
  UINT (*SciterGetRootElement)(HWND hwnd, HELEMENT* root);
  // The element's scroll position, visible rectangle and the size of its whole content.
  UINT (*SciterGetScrollInfo)(HELEMENT element, LPPOINT scrollPos, LPRECT viewRect, LPSIZE contentSize);
  // Calls a global script function of the window's page by its (dotted) name.
  BOOL (*SciterCall)(HWND hwnd, LPCSTR functionName, UINT argc, const SCITER_VALUE* argv,
                     SCITER_VALUE* result);

  UINT (*ValueInit)(SCITER_VALUE* value);
  UINT (*ValueClear)(SCITER_VALUE* value);
  UINT (*ValueCopy)(SCITER_VALUE* destination, const SCITER_VALUE* source);
  UINT (*ValueType)(const SCITER_VALUE* value, UINT* type);
  // The value's text, valid while the value is unchanged; HV_INCOMPATIBLE_TYPE for a non-text.
  UINT (*ValueStringData)(const SCITER_VALUE* value, LPCWSTR* chars, UINT* length);
  UINT (*ValueStringDataSet)(SCITER_VALUE* value, LPCWSTR chars, UINT length);
  UINT (*ValueIntData)(const SCITER_VALUE* value, INT* data);
  UINT (*ValueIntDataSet)(SCITER_VALUE* value, INT data);
  // Map functions; setting a key on a value that is not a map makes it an empty map first.
  UINT (*ValueSetValueToKey)(SCITER_VALUE* map, const SCITER_VALUE* key, const SCITER_VALUE* value);
  UINT (*ValueGetValueOfKey)(const SCITER_VALUE* map, const SCITER_VALUE* key, SCITER_VALUE* value);
  // Array functions (a map counts its pairs); setting element n grows the array to n + 1.
  UINT (*ValueElementsCount)(const SCITER_VALUE* value, INT* count);
  UINT (*ValueNthElementValue)(const SCITER_VALUE* value, INT n, SCITER_VALUE* element);
  UINT (*ValueNthElementValueSet)(SCITER_VALUE* value, INT n, const SCITER_VALUE* element);
};

constexpr UINT kSciterApiVersion = 1;

typedef ISciterAPI* (*SciterAPI_ptr)();

}  // extern "C"
